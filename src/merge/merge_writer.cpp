#include "merge/merge_writer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#if defined(__SSE2__) && !defined(VELLOMAR_PORTABLE_PROBE)
#include <immintrin.h>
#endif

#include "merge/name_set.h"
#include "platform/platform.h"
#include "support/text.h"
#include "support/write_behind.h"

#if defined(__GNUC__)
#define VELLOMAR_NOINLINE __attribute__((noinline))
#define VELLOMAR_ALWAYS_INLINE __attribute__((always_inline))
#else
#define VELLOMAR_NOINLINE
#define VELLOMAR_ALWAYS_INLINE
#endif

namespace vellomar::merge {
namespace {

using support::LineEnd;

constexpr std::size_t kNotFound = std::string_view::npos;

// Output is gathered up to this size and then written, so that a merge never holds more than
// one source and this much of the merged file.
constexpr std::size_t kFlushSize = std::size_t{1} << 20;

// Lines longer than this (a whole file under the wrong line end, say) take the general path,
// which never keeps a list of the places to change.
constexpr std::size_t kLongLine = 4096;

constexpr std::string_view kLocalhost = "localhost";
constexpr std::string_view kLoopback = "127.0.0.1";
constexpr std::string_view kUnspecified = "0.0.0.0";
constexpr std::string_view kIpv6Loopback = "::1";
constexpr std::string_view kCommentPrefix = "# ";

// Localhost lines passed so far in one merge run; shared by all its files.
struct LocalhostState {
  bool ipv4_passed = false;
  bool ipv6_passed = false;
};

// The address a mode rewrites and what it becomes; `from` is empty for a mode that changes none.
struct Rewrite {
  std::string_view from;
  std::string_view to;
};

constexpr Rewrite RewriteFor(AddressMode mode) {
  switch (mode) {
    case AddressMode::kUse127:
      return {kUnspecified, kLoopback};
    case AddressMode::kUse0000:
      return {kLoopback, kUnspecified};
    case AddressMode::kNoChange:
      break;
  }
  return {};
}

// ---- The line rules ------------------------------------------------------------------------

// Only spaces count as indentation before a comment's "#"; a tab does not.
bool IsComment(std::string_view line) {
  std::size_t first = 0;
  while (first < line.size() && line[first] == ' ') ++first;
  return first < line.size() && line[first] == '#';
}

// Only the first active localhost line of each family stays active, across all files of a
// merge. The "# " put in front for the IPv4 line cannot form "::1", so the IPv6 test may look at
// the line as read. A localhost line keeps its addresses whatever the mode.
template <typename Emit>
void ApplyLocalhostRule(std::string_view line, LocalhostState& state, Emit& emit) {
  int prefixes = 0;
  if (line.find(kLoopback) != kNotFound) {
    if (state.ipv4_passed) ++prefixes;
    state.ipv4_passed = true;
  }
  if (line.find(kIpv6Loopback) != kNotFound) {
    if (state.ipv6_passed) ++prefixes;
    state.ipv6_passed = true;
  }
  for (; prefixes > 0; --prefixes) emit(kCommentPrefix);
  emit(line);
}

// The rules for any one line. `emit` receives the processed line in pieces, so that a long
// line is never copied whole.
template <typename Emit>
void ApplyLineRules(std::string_view line, const Rewrite& rewrite, LocalhostState& state,
                    Emit& emit) {
  if (IsComment(line)) {
    emit(line);
  } else if (line.find(kLocalhost) != kNotFound) {
    ApplyLocalhostRule(line, state, emit);
  } else if (rewrite.from.empty()) {
    emit(line);
  } else {
    std::size_t start = 0;
    for (std::size_t hit = line.find(rewrite.from); hit != kNotFound;
         hit = line.find(rewrite.from, start)) {
      emit(line.substr(start, hit - start));
      emit(rewrite.to);
      start = hit + rewrite.from.size();
    }
    emit(line.substr(start));
  }
}

// ---- Lines of more names than Windows reads ------------------------------------------------
//
// A line is an address line when, after any blanks (spaces and tabs), it starts with an IPv4
// or IPv6 address followed by a blank; its names are the blank-separated fields after the
// address up to the first "#", which starts its comment. Under Windows an address line with
// more than kWindowsNamesPerLine names is written as several, joined so that every byte of the
// line is kept in its place and only the address repeats:
//   - the first line is the line without its surplus names, each cut out together with the
//     blanks before it; so it keeps the first nine names, the comment and trailing blanks;
//   - every further line is the line's beginning up to the end of the address (indentation
//     included), then the next nine of the surplus names, each with the blanks before it.
// "0.0.0.0 a ... i j k #c" gives "0.0.0.0 a ... i #c" and "0.0.0.0 j k". Neither a localhost
// line nor one holding a control character other than a tab (a CR or LF that the line end left
// in it) is an address line.

constexpr std::string_view kBlanks = " \t";

struct SurplusNames {
  std::size_t address_end;  // the line up to here begins every further line
  std::size_t cut;          // where the blanks before the first surplus name begin
  std::size_t names_end;    // the end of the last name
};

// Where the names that Windows would not read lie in `line`; nullopt when there are none.
std::optional<SurplusNames> FindSurplusNames(std::string_view line) {
  const std::size_t address = line.find_first_not_of(kBlanks);
  if (address == kNotFound) return std::nullopt;
  const std::size_t address_end = std::min(line.find_first_of(kBlanks, address), line.size());
  if (!LooksLikeAddress(line.substr(address, address_end - address))) return std::nullopt;
  const std::size_t names_stop = std::min(line.find('#', address_end), line.size());
  SurplusNames found{address_end, kNotFound, address_end};
  std::size_t names = 0;
  for (std::size_t name = line.find_first_not_of(kBlanks, address_end); name < names_stop;
       name = line.find_first_not_of(kBlanks, found.names_end)) {
    if (++names == kWindowsNamesPerLine + 1) found.cut = found.names_end;
    found.names_end = std::min(line.find_first_of(kBlanks, name), names_stop);
  }
  if (found.cut == kNotFound || line.find(kLocalhost) != kNotFound ||
      std::any_of(line.begin(), line.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; })) {
    return std::nullopt;
  }
  return found;
}

// Whether a line has more fields than an address line of kWindowsNamesPerLine names. The
// address rewrite changes neither blanks nor "#", so a line it rewrites can need the split
// only when the line as read passes this.
bool HasSurplusFields(std::string_view line) {
  std::size_t fields = 0;
  for (std::size_t field = line.find_first_not_of(kBlanks); field != kNotFound;
       field = line.find_first_not_of(kBlanks, line.find_first_of(kBlanks, field))) {
    if (++fields > kWindowsNamesPerLine + 1) return true;
  }
  return false;
}

// ---- Block lines ---------------------------------------------------------------------------

// The first byte at or after `from` that is a blank (`blank`) or is none; kNotFound when there is
// none. A loop, where find_first_of would search the set of blanks once per byte.
std::size_t FindBlank(std::string_view line, std::size_t from, bool blank) {
  for (; from < line.size(); ++from) {
    if ((line[from] == ' ' || line[from] == '\t') == blank) return from;
  }
  return kNotFound;
}

struct BlockLine {
  std::string_view address;
  std::size_t address_end;  // the names follow
  std::size_t names_stop;   // the comment's "#", or the line's end
};

// A line, as the rules leave it, that maps names to a block address; nullopt for any other line
// (a comment, a localhost line, one of another address, one holding a control character).
std::optional<BlockLine> FindBlockLine(std::string_view line) {
  const std::size_t address = FindBlank(line, 0, false);
  if (address == kNotFound || line.find(kLocalhost) != kNotFound) return std::nullopt;
  const std::size_t address_end = std::min(FindBlank(line, address, true), line.size());
  const std::string_view field = line.substr(address, address_end - address);
  if (!IsBlockAddress(field) || std::any_of(line.begin(), line.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t';
      })) {
    return std::nullopt;
  }
  return BlockLine{field, address_end, std::min(line.find('#', address_end), line.size())};
}

// ---- Finding the lines that may change ----------------------------------------------------

// What may start at a place in the text. One place starts at most one of them: their first
// bytes differ.
enum EventKind : unsigned char {
  kLocalhostEvent = 1,
  kAddressEvent = 2,  // the address the mode rewrites
  kPlaceholderEvent = 4,
  kCrLfEvent = 8,  // under LF: a CR that belongs to a line end
};

struct Event {
  std::size_t pos = kNotFound;
  EventKind kind = kLocalhostEvent;
};

// The place of the LF that ends the line holding position `at` (which is not inside a line end),
// looked for from `from` on, as the end of that line's text and where the next line starts
// (kNotFound for the last line). Under LF a CR before the LF belongs to the line end; under CR
// LF only a pair ends a line.
std::pair<std::size_t, std::size_t> LineEndAfter(std::string_view text, std::size_t at,
                                                 std::size_t from, LineEnd line_end) {
  const char* const base = text.data();
  std::size_t scan = from;
  while (scan < text.size()) {
    const void* hit = std::memchr(base + scan, '\n', text.size() - scan);
    if (hit == nullptr) break;
    const std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    const bool after_cr = lf > at && text[lf - 1] == '\r';
    if (line_end == LineEnd::kLf) return {after_cr ? lf - 1 : lf, lf + 1};
    if (after_cr) return {lf - 1, lf + 1};
    scan = lf + 1;
  }
  return {text.size(), kNotFound};
}

std::pair<std::size_t, std::size_t> LineEndAfter(std::string_view text, std::size_t at,
                                                 LineEnd line_end) {
  return LineEndAfter(text, at, at, line_end);
}

// Which of 64 bytes may start an event (bit i for the byte at p + i) and which are LF.
struct BlockMasks {
  std::uint64_t events = 0;
  std::uint64_t lf = 0;
};

// Bytes of the probe beyond the place it looks at.
constexpr std::size_t kProbeReach = 6;
constexpr std::size_t kMaskBlock = 64;

// Each pattern is recognised by two or three of its bytes: "localhost" by its c and h,
// "#CREATEDDATE#" by "#C", "#HOSTNAME#" by "#H", "127.0.0.1" by "27", "0.0.0.0" by "0." and its
// last 0, a CR LF by its CR. Every byte looked at lies inside the pattern, so a pattern that
// fits in the text is always flagged; a flagged place is compared in full afterwards. Reads p[0]
// to p[kMaskBlock - 1 + kProbeReach].
#if defined(__SSE2__) && !defined(VELLOMAR_PORTABLE_PROBE)
inline __m128i BytesEqual(__m128i bytes, char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); }

inline __m128i Load16(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

#if defined(__GNUC__) && defined(__x86_64__) && !defined(VELLOMAR_NO_AVX2_PROBE)
// The same 32 bytes at a time, for processors that have AVX2.
#define VELLOMAR_HAS_AVX2_PROBE 1

__attribute__((target("avx2"))) inline __m256i BytesEqual(__m256i bytes, char c) {
  return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
}

__attribute__((target("avx2"))) inline __m256i Load32(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <AddressMode kMode, bool kFindCrLf>
__attribute__((target("avx2"))) BlockMasks ProbeBlockAvx2(const unsigned char* p) {
  BlockMasks masks;
  for (std::size_t part = 0; part < kMaskBlock; part += 32) {
    const unsigned char* const at = p + part;
    const __m256i b0 = Load32(at);
    const __m256i b1 = Load32(at + 1);
    const __m256i b2 = Load32(at + 2);
    __m256i found = _mm256_and_si256(BytesEqual(b2, 'c'), BytesEqual(Load32(at + 5), 'h'));
    found = _mm256_or_si256(
        found, _mm256_and_si256(BytesEqual(b0, '#'),
                                _mm256_or_si256(BytesEqual(b1, 'C'), BytesEqual(b1, 'H'))));
    if constexpr (kMode == AddressMode::kUse0000) {
      found = _mm256_or_si256(found, _mm256_and_si256(BytesEqual(b1, '2'), BytesEqual(b2, '7')));
    } else if constexpr (kMode == AddressMode::kUse127) {
      found = _mm256_or_si256(
          found, _mm256_and_si256(_mm256_and_si256(BytesEqual(b0, '0'), BytesEqual(b1, '.')),
                                  BytesEqual(Load32(at + 6), '0')));
    }
    if constexpr (kFindCrLf) found = _mm256_or_si256(found, BytesEqual(b0, '\r'));
    masks.events |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(found))} << part;
    const __m256i lf = BytesEqual(b0, '\n');
    masks.lf |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(lf))} << part;
  }
  return masks;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

template <AddressMode kMode, bool kFindCrLf>
BlockMasks ProbeBlock(const unsigned char* p) {
  BlockMasks masks;
  for (std::size_t part = 0; part < kMaskBlock; part += 16) {
    const unsigned char* const at = p + part;
    const __m128i b0 = Load16(at);
    const __m128i b1 = Load16(at + 1);
    const __m128i b2 = Load16(at + 2);
    __m128i found = _mm_and_si128(BytesEqual(b2, 'c'), BytesEqual(Load16(at + 5), 'h'));
    found = _mm_or_si128(
        found,
        _mm_and_si128(BytesEqual(b0, '#'), _mm_or_si128(BytesEqual(b1, 'C'), BytesEqual(b1, 'H'))));
    if constexpr (kMode == AddressMode::kUse0000) {
      found = _mm_or_si128(found, _mm_and_si128(BytesEqual(b1, '2'), BytesEqual(b2, '7')));
    } else if constexpr (kMode == AddressMode::kUse127) {
      found =
          _mm_or_si128(found, _mm_and_si128(_mm_and_si128(BytesEqual(b0, '0'), BytesEqual(b1, '.')),
                                            BytesEqual(Load16(at + 6), '0')));
    }
    if constexpr (kFindCrLf) found = _mm_or_si128(found, BytesEqual(b0, '\r'));
    masks.events |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(found))} << part;
    masks.lf |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(BytesEqual(b0, '\n')))}
                << part;
  }
  return masks;
}
#else
template <AddressMode kMode, bool kFindCrLf>
BlockMasks ProbeBlock(const unsigned char* p) {
  BlockMasks masks;
  for (std::size_t i = 0; i < kMaskBlock; ++i, ++p) {
    bool found =
        ((p[2] == 'c') & (p[5] == 'h')) | ((p[0] == '#') & ((p[1] == 'C') | (p[1] == 'H')));
    if constexpr (kMode == AddressMode::kUse0000) {
      found |= (p[1] == '2') & (p[2] == '7');
    } else if constexpr (kMode == AddressMode::kUse127) {
      found |= (p[0] == '0') & (p[1] == '.') & (p[6] == '0');
    }
    if constexpr (kFindCrLf) found |= p[0] == '\r';
    masks.events |= std::uint64_t{found} << i;
    masks.lf |= std::uint64_t{p[0] == '\n'} << i;
  }
  return masks;
}
#endif

// Which of the 64 bytes at p are LF.
#if defined(__SSE2__) && !defined(VELLOMAR_PORTABLE_PROBE)
inline std::uint64_t LfMask(const unsigned char* p) {
  std::uint64_t mask = 0;
  for (std::size_t part = 0; part < kMaskBlock; part += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + part));
    mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(BytesEqual(bytes, '\n')))}
            << part;
  }
  return mask;
}
#else
inline std::uint64_t LfMask(const unsigned char* p) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kMaskBlock; ++i) mask |= std::uint64_t{p[i] == '\n'} << i;
  return mask;
}
#endif

// Finds, in order, the places where one of the patterns that the rules react to starts: the
// address that `kMode` rewrites, "localhost", "#CREATEDDATE#", "#HOSTNAME#" and, when `kFindCrLf`,
// CR LF. Everything between two such places is copied as it is. The text is probed 64 bytes at
// a time into masks of the places that may start a pattern and of the LF bytes; the scanner keeps
// the masks of the block it looked at last, so that the next event and the end of a line are
// mostly found in them, without looking at the bytes again.
template <AddressMode kMode, bool kFindCrLf>
class EventScanner {
 public:
  explicit EventScanner(std::string_view text)
      : text_(text),
        bytes_(reinterpret_cast<const unsigned char*>(text.data())),
        base_(text.size() + kMaskBlock) {
#if defined(VELLOMAR_HAS_AVX2_PROBE)
    if (HasAvx2()) probe_ = ProbeBlockAvx2<kMode, kFindCrLf>;
#endif
  }

  // The first event at or after `from`; pos is kNotFound when there is none.
  Event Next(std::size_t from) {
    if (from >= text_.size()) return {};
    if (!InBlock(from)) Load(from);
    std::uint64_t bits = masks_.events & (~std::uint64_t{0} << (from - base_));
    for (;;) {
      for (; bits != 0; bits &= bits - 1) {
        const std::size_t pos = base_ + static_cast<std::size_t>(std::countr_zero(bits));
        if (const auto kind = Confirm(pos)) return {pos, *kind};
      }
      if (text_.size() - base_ <= kMaskBlock) return {};
      Load(base_ + kMaskBlock);
      bits = masks_.events;
    }
  }

  // LineEndAfter for an event just found, mostly answered from the masks.
  std::pair<std::size_t, std::size_t> LineEndAfter(std::size_t at) const {
    if (!InBlock(at)) return merge::LineEndAfter(text_, at, LineEndOf());
    for (std::uint64_t lfs = masks_.lf & (~std::uint64_t{0} << (at - base_)); lfs != 0;
         lfs &= lfs - 1) {
      const std::size_t lf = base_ + static_cast<std::size_t>(std::countr_zero(lfs));
      const bool after_cr = lf > at && bytes_[lf - 1] == '\r';
      if (LineEndOf() == LineEnd::kLf) return {after_cr ? lf - 1 : lf, lf + 1};
      if (after_cr) return {lf - 1, lf + 1};
    }
    // Most lines end within the next block or two.
    for (std::size_t from = base_ + kMaskBlock, blocks = 0;
         blocks < 2 && text_.size() - std::min(from, text_.size()) >= kMaskBlock;
         from += kMaskBlock, ++blocks) {
      for (std::uint64_t lfs = LfMask(bytes_ + from); lfs != 0; lfs &= lfs - 1) {
        const std::size_t lf = from + static_cast<std::size_t>(std::countr_zero(lfs));
        const bool after_cr = bytes_[lf - 1] == '\r';
        if (LineEndOf() == LineEnd::kLf) return {after_cr ? lf - 1 : lf, lf + 1};
        if (after_cr) return {lf - 1, lf + 1};
      }
    }
    return merge::LineEndAfter(text_, at, std::min(base_ + kMaskBlock, text_.size()), LineEndOf());
  }

 private:
  static constexpr std::string_view kAddress = RewriteFor(kMode).from;

  // Under LF output a CR LF in the text is an event, so the scanner for LF is the one that
  // looks for CR LF.
  static constexpr LineEnd LineEndOf() { return kFindCrLf ? LineEnd::kLf : LineEnd::kCrLf; }

  // Before the first Load base_ lies beyond the text, so that no place of it is in the block.
  bool InBlock(std::size_t pos) const { return pos - base_ < kMaskBlock; }

  // The masks of text[base, base + 64); places past the text's end are never flagged.
  void Load(std::size_t base) {
    base_ = base;
    if (text_.size() - base >= kMaskBlock + kProbeReach) {
      masks_ = probe_(bytes_ + base);
    } else {
      LoadNearEnd(base);
    }
  }

  VELLOMAR_NOINLINE void LoadNearEnd(std::size_t base) {
    // A copy padded with zero bytes, which no pattern holds.
    const std::size_t left = text_.size() - base;
    unsigned char padded[kMaskBlock + kProbeReach + 32] = {};
    std::memcpy(padded, bytes_ + base, std::min(left, kMaskBlock + kProbeReach));
    masks_ = probe_(padded);
    if (left < kMaskBlock) {
      const std::uint64_t inside = (std::uint64_t{1} << left) - 1;
      masks_.events &= inside;
      masks_.lf &= inside;
    }
  }

  bool Holds(std::size_t pos, std::string_view pattern) const {
    return text_.size() - pos >= pattern.size() &&
           std::memcmp(bytes_ + pos, pattern.data(), pattern.size()) == 0;
  }

  // The event that starts at a flagged place, told by its first byte; nullopt for none.
  std::optional<EventKind> Confirm(std::size_t pos) const {
    switch (bytes_[pos]) {
      case 'l':
        if (Holds(pos, kLocalhost)) return kLocalhostEvent;
        break;
      case '#':
        if (Holds(pos, kCreatedDatePlaceholder) || Holds(pos, kHostNamePlaceholder)) {
          return kPlaceholderEvent;
        }
        break;
      case '\r':
        if (kFindCrLf && Holds(pos, "\r\n")) return kCrLfEvent;
        break;
      default:
        if (!kAddress.empty() && Holds(pos, kAddress)) return kAddressEvent;
        break;
    }
    return std::nullopt;
  }

  std::string_view text_;
  const unsigned char* bytes_;
  std::size_t base_;  // the block the masks are of
  BlockMasks masks_;
  BlockMasks (*probe_)(const unsigned char*) = ProbeBlock<kMode, kFindCrLf>;
};

// Start of the line that holds position `at`, searching back no further than `from`, which
// is a line start.
std::size_t LineStart(std::string_view text, std::size_t from, std::size_t at, LineEnd line_end) {
  for (std::size_t i = at; i > from; --i) {
    if (text[i - 1] != '\n') continue;
    if (line_end == LineEnd::kLf) return i;
    // Under CR LF a bare LF is text; the CR of a line end cannot lie before `from`.
    if (i - 1 > from && text[i - 2] == '\r') return i;
  }
  return from;
}

// Index just after the first line end in `piece`, or kNotFound. `after_cr`: the byte before
// `piece` is a CR, which a LF at its start completes to a CR LF line end. Under LF every LF
// ends a line (a CR before it belongs to the line end); under CR LF only a CR LF pair does.
std::size_t AfterFirstBreak(std::string_view piece, bool after_cr, bool lf) {
  if (lf || (after_cr && !piece.empty() && piece[0] == '\n')) {
    const std::size_t at = piece.find('\n');
    return at == kNotFound ? at : at + 1;
  }
  const std::size_t at = piece.find("\r\n");
  return at == kNotFound ? at : at + 2;
}

// Index just after the last line end in `piece`, which starts a line; kNotFound when none.
std::size_t AfterLastBreak(std::string_view piece, bool lf) {
  for (std::size_t at = piece.rfind('\n'); at != kNotFound && at > 0;
       at = piece.rfind('\n', at - 1)) {
    if (lf || piece[at - 1] == '\r') return at + 1;
  }
  return lf && !piece.empty() && piece[0] == '\n' ? 1 : kNotFound;
}

// memcpy for the short pieces that most lines are made of: two overlapping copies of a fixed
// size cost a few instructions, where a copy of unknown length costs a call or a slow string
// instruction.
VELLOMAR_ALWAYS_INLINE inline void CopyBytes(char* to, const char* from, std::size_t size) {
  if (size > 64) {
    std::memcpy(to, from, size);
  } else if (size > 32) {
    std::memcpy(to, from, 32);
    std::memcpy(to + size - 32, from + size - 32, 32);
  } else if (size >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + size - 16, from + size - 16, 16);
  } else if (size >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + size - 8, from + size - 8, 8);
  } else if (size >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + size - 4, from + size - 4, 4);
  } else {
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
  }
}

}  // namespace

bool IsValidHostName(std::string_view name) {
  constexpr std::size_t kMaxHostName = 253;
  if (name.empty() || name.size() > kMaxHostName) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
  });
}

bool IsHeaderEntry(std::string_view name) {
  return support::Contains(support::ToLowerAscii(name), "header");
}

bool IsMvpsEntry(std::string_view name) {
  return support::Contains(support::ToLowerAscii(name), "mvps");
}

struct MergeWriter::Impl {
  std::unique_ptr<platform::ReplacementFile> file;
  AddressMode mode = AddressMode::kNoChange;
  LineEnd line_end = LineEnd::kCrLf;
  std::string_view line_end_text;
  std::string date_text;
  std::string host_name;  // empty: "#HOSTNAME#" stays as it is
  std::string named;      // a line with "#HOSTNAME#" filled in
  LocalhostState state;
  // Output is written from a thread of its own, a block at a time; declared after the file,
  // so that it is gone first.
  std::unique_ptr<support::WriteBehind> behind;
  char* pending = nullptr;  // output not yet written: the block being filled
  std::size_t pending_size = 0;
  std::uint64_t written = 0;  // bytes handed to the file so far
  bool too_large = false;     // the merged file would pass the size cap: nothing more is written
  std::string dated;          // a line with "#CREATEDDATE#" filled in
  bool split_names = false;   // for Windows: address lines of surplus names become several
  std::string processed;      // a line after the rules, when it may need the split
  std::string partial;        // the start of a line whose end has not been given yet
  bool taking = false;        // a file was begun and fitted under the size cap
  std::function<void(std::string_view)> watcher;
  // The merge as it stood at the last Begin call, for DropFile.
  std::uint64_t mark = 0;
  LocalhostState state_at_mark;
  bool too_large_at_mark = false;
  // Rules on names (NameRules); when any is on, every line takes AddLineWithNames.
  NameRules rules;
  bool names_pass = false;
  bool in_source = false;
  NameSet blocked;  // for dedupe: names blocked so far, IPv6 ones after a ":"
  NamesLeftOut left_out;
  std::size_t blocked_at_mark = 0;
  NamesLeftOut left_out_at_mark;
  bool end_pending = false;  // the line written last is owed its line end
  std::string kept;          // a block line without the names left out
  std::string key;           // a name as the set keeps it
  std::string pack_address;
  std::string pack_line;  // the names packed so far, each after a blank
  std::size_t pack_count = 0;

  // Where `size` more bytes of output go, after writing out what is pending when they would
  // not fit; nullptr when they would not fit even then.
  char* Room(std::size_t size) {
    if (size > kFlushSize - pending_size) {
      Flush();
      if (size > kFlushSize) return nullptr;
    }
    return pending + pending_size;
  }

  void Emit(std::string_view bytes) {
    if (char* out = Room(bytes.size())) {
      CopyBytes(out, bytes.data(), bytes.size());
      pending_size += bytes.size();
    } else {
      WriteOut(bytes);
    }
  }

  void Flush() {
    if (pending_size == 0) return;
    if (Allows(pending_size)) {
      behind->Submit(pending_size);
      pending = behind->Block();
    }
    pending_size = 0;
  }

  // A line (without its line end) as it stands after the rules.
  void EmitLine(std::string_view line) {
    const auto surplus = split_names ? FindSurplusNames(line) : std::nullopt;
    if (!surplus) return Emit(line);
    Emit(line.substr(0, surplus->cut));
    Emit(line.substr(surplus->names_end));
    for (std::size_t pos = surplus->cut; pos < surplus->names_end;) {
      const std::size_t group = pos;
      for (std::size_t names = 0; names < kWindowsNamesPerLine && pos < surplus->names_end;
           ++names) {
        pos = std::min(line.find_first_of(kBlanks, line.find_first_not_of(kBlanks, pos)),
                       surplus->names_end);
      }
      Emit(line_end_text);
      Emit(line.substr(0, surplus->address_end));
      Emit(line.substr(group, pos - group));
    }
  }

  // Whole lines, with their line ends, that the rules leave as they are.
  void EmitLines(std::string_view lines) {
    if (!split_names) return Emit(lines);
    std::size_t copied = 0;
    for (std::size_t start = 0; start < lines.size();) {
      const auto [end, next] = LineEndAfter(lines, start, line_end);
      if (FindSurplusNames(lines.substr(start, end - start))) {
        Emit(lines.substr(copied, start - copied));
        EmitLine(lines.substr(start, end - start));
        copied = end;
      }
      if (next == kNotFound) break;
      start = next;
    }
    Emit(lines.substr(copied));
  }

  // Marks the merge too large when `size` more bytes would take it past the size cap; checked
  // for each file before it is processed, so that an oversized source is refused before any of
  // it is written.
  bool Fits(std::size_t size) {
    const std::uint64_t used = written + pending_size;
    if (used > platform::kMaxFileBytes || size > platform::kMaxFileBytes - used) too_large = true;
    return !too_large;
  }

  // Whether `size` more bytes may go to the file, counting them when they may: not once the
  // merged file would grow past the size cap.
  bool Allows(std::size_t size) {
    if (too_large) return false;
    if (size > platform::kMaxFileBytes - written) {
      too_large = true;
      return false;
    }
    written += size;
    return true;
  }

  // Hands bytes that are not in the block to the file, after everything before them.
  void WriteOut(std::string_view bytes) {
    if (!Allows(bytes.size())) return;
    behind->Drain();
    WriteNow(bytes);
  }

  // What becomes of output: the watcher sees it and the file takes it. On the thread that writes
  // behind, except when nothing is under way there.
  void WriteNow(std::string_view bytes) {
    if (watcher) watcher(bytes);
    file->Write(bytes);
  }

  // Starts a file of `size` bytes, after everything before it has been written out.
  bool Begin(std::uint64_t size, bool source) {
    taking = false;
    in_source = source;
    end_pending = false;
    pack_count = 0;
    partial.clear();
    // A file refused here and then dropped leaves the merge as it was.
    too_large_at_mark = too_large;
    if (!file) return false;
    if (size > platform::kMaxFileBytes) too_large = true;
    const bool fits = !too_large && Fits(static_cast<std::size_t>(size));
    if (fits) Flush();
    behind->Drain();  // the watcher has seen everything before this file
    if (!fits) return false;
    mark = written;
    state_at_mark = state;
    blocked_at_mark = blocked.Mark();
    left_out_at_mark = left_out;
    taking = true;
    return true;
  }

  // The next piece of the file's text: the lines it completes are processed, and the line it
  // leaves open waits in `partial` for its end.
  void Add(std::string_view piece) {
    if (!taking || piece.empty()) return;
    const bool lf = line_end == LineEnd::kLf;
    if (!partial.empty()) {
      const std::size_t first = AfterFirstBreak(piece, partial.back() == '\r', lf);
      if (first == kNotFound) {
        partial.append(piece);
        return;
      }
      partial.append(piece.substr(0, first));
      AddText(partial, false);
      partial.clear();
      piece.remove_prefix(first);
    }
    const std::size_t last = AfterLastBreak(piece, lf);
    if (last == kNotFound) {
      partial.assign(piece);
      return;
    }
    AddText(piece.substr(0, last), false);
    partial.assign(piece.substr(last));
    if (partial.capacity() > kFlushSize && partial.size() < kFlushSize) {
      std::string(partial).swap(partial);
    }
  }

  // The last line of the file, which no line end follows. False when the file was refused.
  bool End() {
    if (!taking) return false;
    AddText(partial, true);
    partial.clear();
    FlushPack();
    end_pending = false;  // the file's own line end follows
    taking = false;
    return true;
  }

  void Drop() {
    too_large = too_large_at_mark;
    if (!taking) return;
    taking = false;
    partial.clear();
    pending_size = 0;
    // A file that cannot be cut back keeps a failed write, which Commit reports.
    behind->Drain();
    if (written != mark && file->Truncate(mark)) written = mark;
    state = state_at_mark;
    blocked.TruncateTo(blocked_at_mark);
    left_out = left_out_at_mark;
    pack_count = 0;
    end_pending = false;
  }

  // The general path, for the few lines that hold the placeholder, are very long or may need
  // the split.
  void ProcessAnyLine(std::string_view line, bool has_placeholder) {
    // Under Windows the split looks at the whole line as the rules leave it.
    processed.clear();
    auto emit = [this](std::string_view piece) {
      if (split_names) {
        processed.append(piece);
      } else {
        Emit(piece);
      }
    };
    ApplyLineRules(Filled(line, has_placeholder), RewriteFor(mode), state, emit);
    if (split_names) EmitLine(processed);
    for (std::string* scratch : {&dated, &named, &processed}) {
      if (scratch->capacity() > kFlushSize) std::string().swap(*scratch);
    }
  }

  // The line with the placeholders filled in.
  std::string_view Filled(std::string_view line, bool has_placeholder) {
    if (!has_placeholder) return line;
    // The date goes in before the rules look at the line, as if the whole file had been
    // filled in first; neither the placeholder nor the date holds a line end, so the line
    // stays one line.
    dated.clear();
    support::AppendReplacingAll(dated, line, kCreatedDatePlaceholder, date_text);
    std::string_view filled = dated;
    if (!host_name.empty() && support::Contains(dated, kHostNamePlaceholder)) {
      named.clear();
      support::AppendReplacingAll(named, dated, kHostNamePlaceholder, host_name);
      filled = named;
    }
    return filled;
  }

  // ---- Rules on names (the slow path, taken only when a rule is on) ----

  // The lines of `text` one by one: every line that a line end completes and, when `last`, the
  // file's last line (which none does).
  void AddLinesWithNames(std::string_view text, bool last) {
    for (std::size_t start = 0;;) {
      const auto [end, next] = LineEndAfter(text, start, line_end);
      if (next == kNotFound) {
        if (last) AddLineWithNames(text.substr(start, end - start), false);
        return;
      }
      AddLineWithNames(text.substr(start, end - start), true);
      start = next;
    }
  }

  void AddLineWithNames(std::string_view line, bool has_end) {
    processed.clear();
    auto gather = [this](std::string_view piece) { processed.append(piece); };
    ApplyLineRules(Filled(line, support::Contains(line, kCreatedDatePlaceholder) ||
                                    support::Contains(line, kHostNamePlaceholder)),
                   RewriteFor(mode), state, gather);
    const std::string_view out = processed;
    const auto block = FindBlockLine(out);
    if (!block) {
      FlushPack();
      return WriteLine(out, has_end);
    }
    const bool packed = rules.pack && in_source && block->names_stop == out.size();
    if (packed && pack_count > 0 && pack_address != block->address) FlushPack();
    const bool ipv6 = block->address.find(':') != kNotFound;
    kept.clear();
    std::size_t names = 0;
    std::size_t kept_names = 0;
    std::size_t copied = 0;
    for (std::size_t after = block->address_end, name = FindBlank(out, after, false);
         name < block->names_stop; name = FindBlank(out, after, false)) {
      const std::size_t name_end = std::min(FindBlank(out, name, true), block->names_stop);
      const std::string_view field = out.substr(name, name_end - name);
      ++names;
      if (LeavesOut(field, ipv6)) {
        kept.append(out.substr(copied, after - copied));
        copied = name_end;
      } else {
        ++kept_names;
        if (packed) Pack(block->address, field);
      }
      after = name_end;
    }
    if (names > 0 && kept_names == 0) return;  // the line goes, with its line end
    if (packed && kept_names > 0) return;
    FlushPack();
    kept.append(out.substr(copied));
    WriteLine(kept, has_end);
    if (kept.capacity() > kFlushSize) std::string().swap(kept);
  }

  // Whether a name of a block line is left out; counts it when it is.
  bool LeavesOut(std::string_view name, bool ipv6) {
    if (rules.allowed && rules.allowed(name)) {
      ++left_out.allowed;
      return true;
    }
    if (!rules.dedupe) return false;
    key.assign(ipv6 ? ":" : "");
    for (const char c : name) key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    if (blocked.Insert(key)) return false;
    ++left_out.duplicates;
    return true;
  }

  void Pack(std::string_view address, std::string_view name) {
    if (pack_count == 0) {
      pack_address.assign(address);
      pack_line.clear();
    }
    pack_line.push_back(' ');
    pack_line.append(name);
    if (++pack_count == kWindowsNamesPerLine) FlushPack();
  }

  void FlushPack() {
    if (pack_count == 0) return;
    if (end_pending) Emit(line_end_text);
    Emit(pack_address);
    Emit(pack_line);
    end_pending = true;
    pack_count = 0;
  }

  // A line as the rules on names leave it; its line end waits for the next line, so that a line
  // left out takes its own line end with it.
  void WriteLine(std::string_view line, bool has_end) {
    if (end_pending) Emit(line_end_text);
    EmitLine(line);
    end_pending = has_end;
  }

  // Writes the processed text of one file, without a final line end; `last`: the file's last
  // piece, after which no line end follows.
  void AddText(std::string_view text, bool last) {
    if (names_pass) return AddLinesWithNames(text, last);
    const bool lf = line_end == LineEnd::kLf;
    switch (mode) {
      case AddressMode::kUse127:
        return lf ? AddTextAs<AddressMode::kUse127, true>(text)
                  : AddTextAs<AddressMode::kUse127, false>(text);
      case AddressMode::kUse0000:
        return lf ? AddTextAs<AddressMode::kUse0000, true>(text)
                  : AddTextAs<AddressMode::kUse0000, false>(text);
      case AddressMode::kNoChange:
        break;
    }
    return lf ? AddTextAs<AddressMode::kNoChange, true>(text)
              : AddTextAs<AddressMode::kNoChange, false>(text);
  }

  // Most lines of a hosts file need no change. Rather than walking every line, this goes from
  // one place that may need a change to the next and copies the lines between as they are.
  // Under LF a CR LF line end is such a place too, since it is written as LF.
  template <AddressMode kMode, bool kLf>
  void AddTextAs(std::string_view text) {
    constexpr Rewrite kRewrite = RewriteFor(kMode);
    constexpr LineEnd kLineEnd = kLf ? LineEnd::kLf : LineEnd::kCrLf;
    constexpr std::string_view kLineEndText = kLf ? "\n" : "\r\n";
    // A line holding more addresses to rewrite than this takes the general path.
    constexpr std::size_t kMaxRewrites = 16;
    constexpr std::size_t kGrowth =
        kRewrite.to.size() > kRewrite.from.size() ? kRewrite.to.size() - kRewrite.from.size() : 0;

    EventScanner<kMode, kLf> scanner(text);
    std::size_t pos = 0;  // start of the text not yet written; always a line start
    Event event = scanner.Next(0);
    while (event.pos != kNotFound) {
      if constexpr (!kRewrite.from.empty()) {
        // The line of most block lists: the address to rewrite at its very start (so it is no
        // comment) and no other event before its end (so no localhost, placeholder or second
        // address), short, and no split to look for.
        if (event.pos == pos && event.kind == kAddressEvent && !split_names) {
          const auto [end, next] = scanner.LineEndAfter(pos);
          const Event following = scanner.Next(pos + 1);
          if (following.pos >= end && end - pos <= kLongLine) {
            const std::size_t rest = end - pos - kRewrite.from.size();
            char* to = Room(kRewrite.to.size() + rest + kLineEndText.size());
            std::memcpy(to, kRewrite.to.data(), kRewrite.to.size());
            to += kRewrite.to.size();
            CopyBytes(to, text.data() + pos + kRewrite.from.size(), rest);
            to += rest;
            if (next == kNotFound) {
              pending_size += kRewrite.to.size() + rest;
              return;
            }
            std::memcpy(to, kLineEndText.data(), kLineEndText.size());
            pending_size += kRewrite.to.size() + rest + kLineEndText.size();
            pos = next;
            // Under LF the CR of a CR LF line end is an event of the line just written.
            event = following.pos >= pos ? following : scanner.Next(pos);
            continue;
          }
        }
      }
      if constexpr (kLf) {
        // A CR LF that comes first ends a line of no other event, after lines of none: all of
        // it is copied, and the line end written as LF.
        if (event.kind == kCrLfEvent && !split_names) {
          const std::size_t size = event.pos - pos;
          if (char* to = Room(size + 1)) {
            CopyBytes(to, text.data() + pos, size);
            to[size] = '\n';
            pending_size += size + 1;
          } else {
            Emit(text.substr(pos, size));
            Emit(kLineEndText);
          }
          pos = event.pos + 2;
          event = scanner.Next(pos);
          continue;
        }
      }
      const std::size_t start = LineStart(text, pos, event.pos, kLineEnd);
      if (start != pos) EmitLines(text.substr(pos, start - pos));
      const auto [end, next] = scanner.LineEndAfter(event.pos);
      const std::string_view line = text.substr(start, end - start);
      bool has_localhost = false;
      bool general = line.size() > kLongLine;
      std::size_t rewrites[kMaxRewrites];
      std::size_t rewrite_count = 0;
      if (general) {
        event = scanner.Next(end);
      } else {
        for (; event.pos < end; event = scanner.Next(event.pos + 1)) {
          if (event.kind == kLocalhostEvent) {
            has_localhost = true;
          } else if (event.kind == kPlaceholderEvent) {
            general = true;
          } else if (event.kind == kAddressEvent) {
            if (rewrite_count == kMaxRewrites) {
              general = true;
            } else {
              rewrites[rewrite_count++] = event.pos - start;
            }
          }
        }
      }
      // The few lines that may need the split take the general path, which sees them whole.
      general = general || (split_names && HasSurplusFields(line));
      if (general) {
        ProcessAnyLine(line, support::Contains(line, kCreatedDatePlaceholder) ||
                                 support::Contains(line, kHostNamePlaceholder));
      } else if ((!has_localhost && rewrite_count == 0) || IsComment(line)) {
        Emit(line);
      } else if (has_localhost) {
        auto emit = [this](std::string_view piece) { Emit(piece); };
        ApplyLocalhostRule(line, state, emit);
      } else {
        // The line and its line end in one piece of the buffer.
        char* const out = Room(line.size() + rewrite_count * kGrowth + kLineEndText.size());
        char* to = out;
        std::size_t copied = 0;
        for (std::size_t i = 0; i < rewrite_count; ++i) {
          if (rewrites[i] < copied) continue;  // overlaps the one just rewritten
          CopyBytes(to, line.data() + copied, rewrites[i] - copied);
          to += rewrites[i] - copied;
          if constexpr (!kRewrite.to.empty()) {
            std::memcpy(to, kRewrite.to.data(), kRewrite.to.size());
            to += kRewrite.to.size();
          }
          copied = rewrites[i] + kRewrite.from.size();
        }
        CopyBytes(to, line.data() + copied, line.size() - copied);
        to += line.size() - copied;
        if (next != kNotFound) {
          std::memcpy(to, kLineEndText.data(), kLineEndText.size());
          to += kLineEndText.size();
        }
        pending_size += static_cast<std::size_t>(to - out);
        if (next == kNotFound) return;
        pos = next;
        if (event.pos < pos) event = scanner.Next(pos);
        continue;
      }
      if (next == kNotFound) return;
      Emit(kLineEndText);
      pos = next;
      if (event.pos < pos) event = scanner.Next(pos);
    }
    EmitLines(text.substr(pos));
  }
};

MergeWriter::MergeWriter(std::string target_path, AddressMode mode, support::LineEnd line_end,
                         std::string date_text, std::string host_name, platform::OsFamily os)
    : impl_(std::make_unique<Impl>()) {
  // Temporary files of merges that were killed before they could remove their own.
  platform::RemoveStaleReplacements(target_path);
  impl_->file = platform::CreateReplacementFile(target_path);
  impl_->mode = mode;
  impl_->line_end = line_end;
  impl_->line_end_text = support::LineEndText(line_end);
  impl_->split_names = os == platform::OsFamily::kWindows;
  impl_->date_text = std::move(date_text);
  if (IsValidHostName(host_name)) impl_->host_name = std::move(host_name);
  if (impl_->file) {
    impl_->behind = std::make_unique<support::WriteBehind>(
        [impl = impl_.get()](std::string_view bytes) { impl->WriteNow(bytes); }, kFlushSize);
    impl_->pending = impl_->behind->Block();
  }
}

// The temporary file goes with the ReplacementFile unless it was committed.
MergeWriter::~MergeWriter() = default;

void MergeWriter::AddHeader(std::string_view text) {
  BeginHeader(text.size());
  Add(text);
  EndFile();
}

void MergeWriter::AddSource(std::string_view name, std::string_view text) {
  BeginSource(name, text.size());
  Add(text);
  EndFile();
}

void MergeWriter::BeginHeader(std::uint64_t size) {
  impl_->Begin(size, false);
  source_name_.clear();
  in_source_ = false;
}

void MergeWriter::BeginSource(std::string_view name, std::uint64_t size) {
  Impl& impl = *impl_;
  in_source_ = false;
  // The name appears in both markers.
  if (!impl.Begin(size + 2 * std::uint64_t{name.size()}, true)) return;
  in_source_ = true;
  source_name_.assign(name);
  impl.Emit(kStartMarker);
  impl.Emit(name);
  impl.Emit(kMarkerEnd);
  impl.Emit(impl.line_end_text);
}

void MergeWriter::Add(std::string_view piece) { impl_->Add(piece); }

void MergeWriter::EndFile() {
  Impl& impl = *impl_;
  if (!impl.End()) return;
  const std::string_view end = impl.line_end_text;
  impl.Emit(end);
  if (!in_source_) return;
  impl.Emit(kEndMarker);
  impl.Emit(source_name_);
  impl.Emit(kMarkerEnd);
  impl.Emit(end);
  impl.Emit(kSeparatorLine);
  impl.Emit(end);
  impl.Emit(end);
}

void MergeWriter::DropFile() { impl_->Drop(); }

void MergeWriter::SetNameRules(NameRules rules) {
  impl_->names_pass = rules.allowed || rules.dedupe || rules.pack;
  impl_->rules = std::move(rules);
}

NamesLeftOut MergeWriter::LeftOut() const { return impl_->left_out; }

void MergeWriter::WatchOutput(std::function<void(std::string_view)> watcher) {
  impl_->watcher = std::move(watcher);
}

MergeWriter::CommitResult MergeWriter::Commit() {
  Impl& impl = *impl_;
  if (!impl.file) return CommitResult::kWriteFailed;
  impl.Flush();
  if (impl.too_large) {
    impl.behind.reset();
    impl.pending = nullptr;
    impl.file.reset();  // the temporary file goes; the target is unchanged
    return CommitResult::kTooLarge;
  }
  impl.behind.reset();  // every block written
  impl.pending = nullptr;
  const auto result = impl.file->Commit();
  // Later calls find no file and do nothing.
  impl.file.reset();
  switch (result) {
    case platform::ReplacementFile::CommitResult::kReplaced:
      return CommitResult::kReplaced;
    case platform::ReplacementFile::CommitResult::kWriteFailed:
      return CommitResult::kWriteFailed;
    case platform::ReplacementFile::CommitResult::kTargetBusy:
    case platform::ReplacementFile::CommitResult::kRenameFailed:
      break;
  }
  return CommitResult::kReplaceFailed;
}

}  // namespace vellomar::merge
