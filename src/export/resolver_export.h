#pragma once
// A hosts file as a network resolver takes it: what each name of the file means (blocked, or
// given an address of its own), read once, then written out in a resolver's own format.

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "export/allow_list.h"
#include "platform/platform.h"

namespace vellomar::exports {

enum class Format { kUnbound, kDnsmasq, kRpz, kDomains };

// The format named `text` ("unbound", "dnsmasq", "rpz", "domains"); nullopt for any other.
std::optional<Format> FormatNamed(std::string_view text);

// The zone an rpz export is the file of, as named.conf's response-policy names it.
inline constexpr std::string_view kRpzZone = "rpz.vellomar";

// The names of a hosts file and what each means, in file order. A name keeps its first meaning:
// blocked (mapped to 0.0.0.0, 127.0.0.1, :: or ::1), or its own addresses (the first IPv4 and
// the first IPv6 address a line gives it). Never exported: the localhost names, the lines every
// system writes (127.0.1.1, the IPv6 multicast names), names the allowlist allows as blocked
// ones, and the machine's own names (those a 127.0.1.1 line maps anywhere in the file) as
// blocked ones (such a name takes the addresses later lines give it, if any). Every name is kept
// until the end, so that a 127.0.1.1 line further down still counts: one pass over the file.
class HostsMeaning {
 public:
  // The most names kept; a file with more is refused (memory grows with every name).
  static constexpr std::size_t kMaxNames = std::size_t{16} << 20;
  // Examples kept of the names left out.
  static constexpr std::size_t kExamples = 5;

  explicit HostsMeaning(const AllowList* allow = nullptr) : allow_(allow) {}

  // Takes one line (its line end, LF or CR LF, may be on it). False once there are more than
  // kMaxNames names.
  bool AddLine(std::string_view line);
  // A line too long to be a hosts line, passed over: counted as left out.
  void PassOverLongLine();

  struct Name {
    bool blocked = false;
    std::string_view ipv4;  // local data; empty when none
    std::string_view ipv6;
  };
  // Calls fn(name, meaning) for every name to export, in file order.
  void ForEach(const std::function<void(std::string_view, const Name&)>& fn) const;

  std::uint64_t LeftOut() const { return left_out_; }
  const std::vector<std::string>& LeftOutExamples() const { return examples_; }

 private:
  static constexpr std::uint32_t kNoAddresses = UINT32_MAX;
  // A name, in the arena; 16 + 8 bytes a name besides its text, for a million names and more.
  struct Entry {
    std::string_view name;
    std::uint32_t addresses = kNoAddresses;  // its IPv4 and IPv6 address in addresses_
    bool blocked = false;
  };
  void LeaveOut(std::string_view name);
  // `text` copied into the arena, whose blocks never move.
  std::string_view Keep(std::string_view text);

  const AllowList* allow_;
  std::vector<std::unique_ptr<char[]>> arena_;
  char* arena_next_ = nullptr;
  std::size_t arena_left_ = 0;
  std::vector<Entry> entries_;  // in file order
  std::unordered_map<std::string_view, std::uint32_t> index_;
  std::vector<std::array<std::string, 2>> addresses_;
  std::unordered_set<std::string> machine_names_;
  std::uint64_t left_out_ = 0;
  std::vector<std::string> examples_;
};

// Reads the hosts file at `path` through the checked reader into `meaning`, a piece at a time,
// so that its size is bounded by the reader's cap only. kOk, or why it could not be read through
// (kTooLarge also for a file with more than HostsMeaning::kMaxNames names).
[[nodiscard]] platform::ReadStatus ReadHostsFile(const std::string& path, HostsMeaning& meaning);

struct ExportOptions {
  Format format = Format::kUnbound;
  // Blocks every name below a blocked name too (unbound, dnsmasq, rpz).
  bool subdomains = false;
  // The rpz zone's SOA serial.
  std::uint32_t serial = 1;
};

// Writes `meaning` in the format asked for, a piece at a time, to `write`; false as soon as
// `write` returns false.
[[nodiscard]] bool WriteExport(const HostsMeaning& meaning, const ExportOptions& options,
                               const std::function<bool(std::string_view)>& write);

}  // namespace vellomar::exports
