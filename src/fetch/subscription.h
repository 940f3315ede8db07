#pragma once
// Subscriptions: a file Hostfiles/H_<Name>.url names the web address of the list H_<Name>.txt,
// which is then listed and merged as any other source. The .url file holds the address on its
// first non-empty line, or is a Windows Internet Shortcut ("[InternetShortcut]", "URL=...").

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vellomar::fetch {

inline constexpr std::string_view kSubscriptionPattern = "H_*.url";
// A subscription is a line or two: anything longer is no subscription, and is not read.
inline constexpr std::size_t kMaxSubscriptionBytes = std::size_t{64} << 10;

// Why a .url file names no list to fetch.
enum class NotSubscription {
  kNone,           // it does
  kUnreadable,     // the file cannot be read (`read` says why)
  kTooLarge,       // larger than kMaxSubscriptionBytes
  kEmpty,          // no line that is not blank
  kNotWeb,         // its address is not an http:// or https:// address
  kNoShortcutUrl,  // an Internet Shortcut without a URL= line
};

struct Subscription {
  std::string url;
  NotSubscription why = NotSubscription::kNone;
  platform::ReadStatus read = platform::ReadStatus::kOk;  // for kUnreadable
};

// The address in the bytes of a .url file (a UTF-8 byte order mark, blanks around lines, and
// CR LF or LF line ends tolerated).
Subscription ParseSubscription(std::string_view bytes);

// The .url file `name` in the source folder `folder`, read as the sources there are read (as
// root: only a file of root's or of the folder's owner), with a cap of kMaxSubscriptionBytes.
Subscription ReadSubscription(const std::string& folder, const std::string& name);

// True for an http:// or https:// address (the scheme in any case) of printable characters
// without blanks.
bool IsWebAddress(std::string_view url);

// The list a subscription fills: "H_Name.url" -> "H_Name.txt".
std::string ListNameOf(const std::string& subscription);

// The subscription a user names by either of its files, "H_Name.url" or "H_Name.txt";
// nullopt for any other name.
std::optional<std::string> SubscriptionNamed(const std::string& name);

// The subscriptions in `folder` by the source catalogue's rules for names, sorted as the
// source list; nullopt when the folder cannot be read.
std::optional<std::vector<std::string>> ListSubscriptions(const std::string& folder);

}  // namespace vellomar::fetch
