#include "export/resolver_export.h"

#include <algorithm>
#include <array>

#include "install/entries.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::exports {
namespace {

using Bytes4 = std::array<std::uint8_t, 4>;
using Bytes16 = std::array<std::uint8_t, 16>;

// A dotted IPv4 address of four decimal parts, each at most 255 and without leading zeros.
std::optional<Bytes4> ParseIpv4(std::string_view text) {
  Bytes4 bytes{};
  std::size_t part = 0;
  for (std::size_t pos = 0; part < 4; ++part) {
    const std::size_t end = std::min(text.find('.', pos), text.size());
    const std::string_view digits = text.substr(pos, end - pos);
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0') ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return std::nullopt;
    }
    int value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    if (value > 255) return std::nullopt;
    bytes[part] = static_cast<std::uint8_t>(value);
    if (end == text.size()) return part == 3 ? std::optional<Bytes4>(bytes) : std::nullopt;
    pos = end + 1;
  }
  return std::nullopt;
}

// An IPv6 address as RFC 4291 writes it: eight groups of up to four hex digits, one "::" for a
// run of zero groups, the last 32 bits possibly in IPv4 notation. No zone index.
std::optional<Bytes16> ParseIpv6(std::string_view text) {
  std::array<std::uint16_t, 8> groups{};
  int count = 0;
  int gap = -1;
  std::size_t pos = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    pos = 2;
  }
  while (pos < text.size()) {
    const std::size_t end = text.find(':', pos);
    const std::string_view part = text.substr(pos, end == std::string_view::npos ? end : end - pos);
    if (end == std::string_view::npos && part.find('.') != std::string_view::npos) {
      const auto tail = ParseIpv4(part);
      if (!tail || count > 6) return std::nullopt;
      groups[count++] = static_cast<std::uint16_t>((*tail)[0] << 8 | (*tail)[1]);
      groups[count++] = static_cast<std::uint16_t>((*tail)[2] << 8 | (*tail)[3]);
      break;
    }
    if (part.empty() || part.size() > 4 || count == 8 ||
        part.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
      return std::nullopt;
    }
    groups[count++] = static_cast<std::uint16_t>(std::stoul(std::string(part), nullptr, 16));
    if (end == std::string_view::npos) break;
    pos = end + 1;
    if (pos < text.size() && text[pos] == ':') {
      if (gap >= 0) return std::nullopt;
      gap = count;
      ++pos;
    } else if (pos == text.size()) {
      return std::nullopt;  // a single ':' at the end
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return std::nullopt;
  std::array<std::uint16_t, 8> full{};
  const int head = gap < 0 ? count : gap;
  std::copy_n(groups.begin(), head, full.begin());
  std::copy(groups.begin() + head, groups.begin() + count, full.end() - (count - head));
  Bytes16 bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(full[i] >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(full[i] & 0xff);
  }
  return bytes;
}

// The names every system maps to its loopback: never exported, whatever the address.
bool IsLocalhostName(std::string_view lower) {
  static constexpr std::array<std::string_view, 6> kNames = {
      "localhost",    "localhost.localdomain", "ip6-localhost",
      "ip6-loopback", "broadcasthost",         "local"};
  return std::find(kNames.begin(), kNames.end(), lower) != kNames.end();
}

// A name every resolver takes: letters, digits, '-', '_' and '.', labels of 1 to 63 bytes, at
// most 253 bytes, and not an IPv4 address.
bool IsResolverName(std::string_view name) {
  if (name.empty() || name.size() > 253 || ParseIpv4(name)) return false;
  std::size_t label = 0;
  for (const char c : name) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!allowed || ++label > 63) return false;
  }
  return label > 0;
}

}  // namespace

std::optional<Format> FormatNamed(std::string_view text) {
  if (text == "unbound") return Format::kUnbound;
  if (text == "dnsmasq") return Format::kDnsmasq;
  if (text == "rpz") return Format::kRpz;
  if (text == "domains") return Format::kDomains;
  return std::nullopt;
}

void HostsMeaning::LeaveOut(std::string_view name) {
  ++left_out_;
  if (examples_.size() < kExamples) examples_.emplace_back(name);
}

void HostsMeaning::PassOverLongLine() { LeaveOut("(a line too long to be a hosts line)"); }

bool HostsMeaning::AddLine(std::string_view line) {
  const auto parsed = install::ParseHostsLine(line);
  if (!parsed) return true;
  const std::string address = support::ToLowerAscii(parsed->address);
  const auto ipv4 = ParseIpv4(address);
  const auto ipv6 = ipv4 ? std::nullopt : ParseIpv6(address);
  if (!ipv4 && !ipv6) {
    for (const auto name : parsed->names) LeaveOut(name);
    return true;
  }
  const bool machine = ipv4 && *ipv4 == Bytes4{127, 0, 1, 1};
  const bool blocks = ipv4 ? (*ipv4 == Bytes4{0, 0, 0, 0} || *ipv4 == Bytes4{127, 0, 0, 1})
                           : (*ipv6 == Bytes16{} ||
                              *ipv6 == Bytes16{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  for (const auto written : parsed->names) {
    std::string name = support::ToLowerAscii(written);
    if (IsLocalhostName(name)) continue;
    if (!IsResolverName(name)) {
      LeaveOut(written);
      continue;
    }
    if (machine) {
      machine_names_.insert(std::move(name));
      continue;
    }
    if (blocks ? (allow_ != nullptr && allow_->Allows(name))
               : !install::IsOwnEntry(address, name)) {
      continue;  // allowed, or a line every system writes
    }
    auto found = index_.find(name);
    if (found == index_.end()) {
      if (entries_.size() >= kMaxNames) return false;
      const std::string_view kept = Keep(name);
      found = index_.emplace(kept, static_cast<std::uint32_t>(entries_.size())).first;
      entries_.push_back({kept, kNoAddresses, blocks});
    }
    Entry& entry = entries_[found->second];
    // A blocked name's addresses are kept too: they are its meaning if it is the machine's own.
    if (blocks) continue;
    if (entry.addresses == kNoAddresses) {
      entry.addresses = static_cast<std::uint32_t>(addresses_.size());
      addresses_.emplace_back();
    }
    std::string& slot = addresses_[entry.addresses][ipv4 ? 0 : 1];
    if (slot.empty()) slot = address;
  }
  return true;
}

std::string_view HostsMeaning::Keep(std::string_view text) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  if (text.size() > arena_left_) {
    arena_.push_back(std::make_unique<char[]>(std::max(kBlock, text.size())));
    arena_next_ = arena_.back().get();
    arena_left_ = std::max(kBlock, text.size());
  }
  std::copy(text.begin(), text.end(), arena_next_);
  const std::string_view kept(arena_next_, text.size());
  arena_next_ += text.size();
  arena_left_ -= text.size();
  return kept;
}

void HostsMeaning::ForEach(const std::function<void(std::string_view, const Name&)>& fn) const {
  for (const Entry& entry : entries_) {
    Name meaning{entry.blocked, {}, {}};
    if (entry.addresses != kNoAddresses) {
      meaning.ipv4 = addresses_[entry.addresses][0];
      meaning.ipv6 = addresses_[entry.addresses][1];
    }
    if (entry.blocked && !machine_names_.empty() &&
        machine_names_.count(std::string(entry.name)) != 0) {
      if (meaning.ipv4.empty() && meaning.ipv6.empty()) continue;
      meaning.blocked = false;  // the next meaning it had
    }
    fn(entry.name, meaning);
  }
}

platform::ReadStatus ReadHostsFile(const std::string& path, HostsMeaning& meaning) {
  support::ReadOptions options;
  options.hosts_text = true;
  platform::ReadStatus status;
  platform::InputFile file = support::OpenForReading(path, options, status);
  if (status != platform::ReadStatus::kOk) return status;
  constexpr std::size_t kMaxLine = std::size_t{64} << 10;
  support::BlockBuffer chunk(support::kReadChunkBytes);
  std::string carry;  // the start of a line that goes on in the next piece
  bool too_long = false;
  bool room = true;
  const auto end_line = [&](std::string_view line) {
    if (too_long) {
      meaning.PassOverLongLine();
    } else if (carry.empty()) {
      room = meaning.AddLine(line);
    } else {
      carry.append(line);
      room = meaning.AddLine(carry);
    }
    carry.clear();
    too_long = false;
  };
  status = support::ReadInChunks(
      file, options, {chunk.data(), chunk.size()}, [&](std::string_view piece) {
        while (room && !piece.empty()) {
          const std::size_t lf = piece.find('\n');
          if (lf == std::string_view::npos) {
            too_long = too_long || carry.size() + piece.size() > kMaxLine;
            if (too_long) {
              carry.clear();
            } else {
              carry.append(piece);
            }
            return;
          }
          end_line(piece.substr(0, lf + 1));
          piece.remove_prefix(lf + 1);
        }
      });
  if (status == platform::ReadStatus::kOk && room && (too_long || !carry.empty())) end_line({});
  if (status == platform::ReadStatus::kOk && !room) status = platform::ReadStatus::kTooLarge;
  return status;
}

namespace {

// Writes through `write` in pieces of about kPiece bytes.
class Writer {
 public:
  explicit Writer(const std::function<bool(std::string_view)>& write) : write_(write) {}
  void Line(std::initializer_list<std::string_view> parts) {
    for (const auto part : parts) buffer_.append(part);
    buffer_.push_back('\n');
    if (buffer_.size() >= kPiece) Flush();
  }
  bool Flush() {
    if (ok_ && !buffer_.empty()) ok_ = write_(buffer_);
    buffer_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  const std::function<bool(std::string_view)>& write_;
  std::string buffer_;
  bool ok_ = true;
};

}  // namespace

bool WriteExport(const HostsMeaning& meaning, const ExportOptions& options,
                 const std::function<bool(std::string_view)>& write) {
  std::uint64_t blocked = 0;
  std::uint64_t local = 0;
  meaning.ForEach([&](std::string_view, const HostsMeaning::Name& name) {
    ++(name.blocked ? blocked : local);
  });
  Writer out(write);
  const auto names = [](std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " name" : " names");
  };
  const std::string counts = names(blocked) + " blocked" +
                             (options.subdomains ? " with the names below them, " : ", ") +
                             names(local) + " with addresses of their own";
  const bool sub = options.subdomains;
  switch (options.format) {
    case Format::kUnbound:
      out.Line({"# unbound server: clause, written by vellomar-cli export: ", counts});
      break;
    case Format::kDnsmasq:
      out.Line({"# dnsmasq conf-file, written by vellomar-cli export: ", counts});
      break;
    case Format::kRpz:
      out.Line({"; response policy zone ", kRpzZone, ", written by vellomar-cli export: ", counts});
      out.Line({"$TTL 300"});
      out.Line({"@ IN SOA localhost. hostmaster.localhost. ", std::to_string(options.serial),
                " 3600 600 604800 300"});
      out.Line({"@ IN NS localhost."});
      break;
    case Format::kDomains:
      break;
  }
  meaning.ForEach([&](std::string_view name, const HostsMeaning::Name& data) {
    switch (options.format) {
      case Format::kUnbound:
        if (data.blocked && sub) {
          out.Line({"local-zone: \"", name, ".\" always_nxdomain"});
        } else if (data.blocked) {
          out.Line({"local-data: \"", name, ". A 0.0.0.0\""});
          out.Line({"local-data: \"", name, ". AAAA ::\""});
        } else {
          if (!data.ipv4.empty()) out.Line({"local-data: \"", name, ". A ", data.ipv4, "\""});
          if (!data.ipv6.empty()) out.Line({"local-data: \"", name, ". AAAA ", data.ipv6, "\""});
        }
        break;
      case Format::kDnsmasq:
        // server=/name/ answers NXDOMAIN for the name and the names below it; server=/*.name/#
        // sends those below to the usual servers again. Both are lines a servers-file takes.
        if (data.blocked) {
          out.Line({"server=/", name, "/"});
          if (!sub) out.Line({"server=/*.", name, "/#"});
        } else {
          out.Line({"host-record=", name, data.ipv4.empty() ? "" : ",", data.ipv4,
                    data.ipv6.empty() ? "" : ",", data.ipv6});
        }
        break;
      case Format::kRpz:
        if (data.blocked) {
          out.Line({name, " CNAME ."});
          if (sub) out.Line({"*.", name, " CNAME ."});
        } else {
          if (!data.ipv4.empty()) out.Line({name, " A ", data.ipv4});
          if (!data.ipv6.empty()) out.Line({name, " AAAA ", data.ipv6});
        }
        break;
      case Format::kDomains:
        if (data.blocked) out.Line({name});
        break;
    }
  });
  return out.Flush();
}

}  // namespace vellomar::exports
