// What a hosts file means to a resolver, and each format's lines for it.
#include "export/resolver_export.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_util.h"
#include "support/line_end.h"

namespace vellomar::exports {
namespace {

std::string Exported(const std::string& hosts, Format format, bool subdomains = false,
                     const AllowList* allow = nullptr, HostsMeaning* kept = nullptr) {
  HostsMeaning meaning(allow);
  support::ForEachLine(hosts, support::LineEnd::kLf, [&](std::string_view line) {
    EXPECT_TRUE(meaning.AddLine(line));
    return true;
  });
  std::string out;
  EXPECT_TRUE(WriteExport(meaning, {format, subdomains, 7}, [&](std::string_view text) {
    out.append(text);
    return true;
  }));
  if (kept != nullptr) *kept = std::move(meaning);
  // After the comment that counts the names.
  return out.starts_with('#') || out.starts_with(';') ? out.substr(out.find('\n') + 1) : out;
}

TEST(ResolverExportTest, EachLineMeansBlockedAnAddressOrNothing) {
  const AllowList allow = AllowList::Parse("*.good.example\n");
  HostsMeaning meaning;
  const std::string out = Exported(
      "0.0.0.0 A.example b.example # c.example\r\n"
      "127.0.0.1 c.example\n::1 d.example\n0:0::0 e.example\n"
      "127.0.0.1 localhost LocalHost.localdomain ip6-loopback broadcasthost local\n"
      "192.168.1.2 lan.example a.example\n2001:db8::1 lan.example\n10.0.0.1 lan.example\n"
      "0.0.0.0 lan.example mine.example x.good.example\n# 0.0.0.0 commented.example\n\n"
      "ff02::1 ip6-allnodes\n127.0.1.1 mine.example\n10.0.0.9 mine.example\n"
      "0.0.0.0 bad_name! -.. 1.2.3.4 " +
          std::string(64, 'x') +
          ".example\n"
          "999.1.1.1 odd.example\n1::2::3 odd6.example\n",
      Format::kDomains, false, &allow, &meaning);
  EXPECT_EQ(out, "a.example\nb.example\nc.example\nd.example\ne.example\n");
  std::vector<std::string> data;
  meaning.ForEach([&](std::string_view name, const HostsMeaning::Name& what) {
    if (!what.blocked)
      data.push_back(std::string(name) + " " + std::string(what.ipv4) + " " +
                     std::string(what.ipv6));
  });
  EXPECT_EQ(data, (std::vector<std::string>{"lan.example 192.168.1.2 2001:db8::1",
                                            "mine.example 10.0.0.9 "}));
  EXPECT_EQ(meaning.LeftOut(), 6u);
  EXPECT_EQ(meaning.LeftOutExamples(),
            (std::vector<std::string>{"bad_name!", "-..", "1.2.3.4",
                                      std::string(64, 'x') + ".example", "odd.example"}));
}

TEST(ResolverExportTest, EachFormatWritesItsOwnLines) {
  const std::string hosts = "0.0.0.0 ads.example\n10.1.2.3 lan.example\nfd00::1 lan.example\n";
  const std::vector<std::tuple<Format, bool, std::string>> table = {
      {Format::kUnbound, false,
       "local-data: \"ads.example. A 0.0.0.0\"\nlocal-data: \"ads.example. AAAA ::\"\n"
       "local-data: \"lan.example. A 10.1.2.3\"\nlocal-data: \"lan.example. AAAA fd00::1\"\n"},
      {Format::kUnbound, true,
       "local-zone: \"ads.example.\" always_nxdomain\n"
       "local-data: \"lan.example. A 10.1.2.3\"\nlocal-data: \"lan.example. AAAA fd00::1\"\n"},
      {Format::kDnsmasq, false,
       "server=/ads.example/\nserver=/*.ads.example/#\nhost-record=lan.example,10.1.2.3,fd00::1\n"},
      {Format::kDnsmasq, true, "server=/ads.example/\nhost-record=lan.example,10.1.2.3,fd00::1\n"},
      {Format::kRpz, false,
       "$TTL 300\n@ IN SOA localhost. hostmaster.localhost. 7 3600 600 604800 300\n"
       "@ IN NS localhost.\nads.example CNAME .\nlan.example A 10.1.2.3\n"
       "lan.example AAAA fd00::1\n"},
      {Format::kRpz, true, "CNAME .\n*.ads.example CNAME .\nlan.example A"},
      {Format::kDomains, true, "ads.example\n"},
  };
  for (const auto& [format, subdomains, lines] : table) {
    const std::string out = Exported(hosts, format, subdomains);
    EXPECT_TRUE(format == Format::kRpz && subdomains ? testing::Contains(out, lines).operator bool()
                                                     : out == lines)
        << out;
  }
  EXPECT_EQ(FormatNamed("rpz"), Format::kRpz);
  EXPECT_EQ(FormatNamed("hosts"), std::nullopt);
}

TEST(ResolverExportTest, ReadsAFileInPiecesWhateverItsLineEnds) {
  testing::TempDir dir;
  std::string hosts = "0.0.0.0 first.example\r\n";
  for (int i = 0; i < 40000; ++i) hosts += "0.0.0.0 n" + std::to_string(i) + ".example\r\n";
  hosts += "0.0.0.0 " + std::string(70000, 'x') + "\n10.0.0.1 last.example";  // no LF at the end
  testing::WriteFile(dir.File("h.txt"), hosts);
  HostsMeaning meaning;
  ASSERT_EQ(ReadHostsFile(dir.File("h.txt"), meaning), platform::ReadStatus::kOk);
  std::size_t names = 0;
  std::string last;
  meaning.ForEach([&](std::string_view name, const HostsMeaning::Name& what) {
    ++names;
    last = std::string(name) + " " + std::string(what.ipv4);
  });
  EXPECT_EQ(names, 40002u);
  EXPECT_EQ(last, "last.example 10.0.0.1");
  EXPECT_EQ(meaning.LeftOut(), 1u);
  testing::WriteFile(dir.File("zero-byte.txt"), std::string("0.0.0.0 a\n\0", 11));
  EXPECT_EQ(ReadHostsFile(dir.File("zero-byte.txt"), meaning), platform::ReadStatus::kNotText);
  EXPECT_EQ(ReadHostsFile(dir.File("none.txt"), meaning), platform::ReadStatus::kMissing);
}

}  // namespace
}  // namespace vellomar::exports
