// Subscriptions and their fetch, through a server of the test's own in the environment's
// http_get: what a .url file names, what counts as a hosts list, and what a fetch leaves on disk.
// The command line against a real web server is the command line's test.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/program_fixture.h"
#include "fetch/fetch_state.h"
#include "fetch/list_check.h"
#include "fetch/subscription.h"
#include "session/session.h"
#include "view/status_text.h"

namespace vellomar::fetch {
namespace {

using namespace vellomar::testing;  // ProgramFixture, WriteFile, ReadFile, Exists, Entries

TEST(SubscriptionTest, TheFirstLineOrTheShortcutsUrlNamesTheAddress) {
  constexpr auto kNotWeb = NotSubscription::kNotWeb;
  for (const auto& [bytes, url, why] :
       std::vector<std::tuple<std::string, std::string, NotSubscription>>{
           {"https://a.example/h.txt\n", "https://a.example/h.txt", NotSubscription::kNone},
           {"\xEF\xBB\xBF\r\n  \t\r\n HTTP://a.example/x \r\nftp://b\r\n", "HTTP://a.example/x",
            NotSubscription::kNone},
           {"[InternetShortcut]\r\nIDList=\r\nurl = https://c.example/l\r\n", "https://c.example/l",
            NotSubscription::kNone},
           {"[InternetShortcut]\n[Other]\nURL=https://d.example/\n", "",
            NotSubscription::kNoShortcutUrl},
           {"[internetshortcut]\nURL=file:///etc/passwd\n", "", kNotWeb},
           {"ftp://a.example/h.txt", "", kNotWeb},
           {"https://", "", kNotWeb},
           {"https://a.example/with blank", "", kNotWeb},
           {"# https://a.example/\n", "", kNotWeb},
           {" \r\n\n", "", NotSubscription::kEmpty}}) {
    const Subscription read = ParseSubscription(bytes);
    EXPECT_EQ(std::pair(read.url, read.why), std::pair(url, why)) << bytes;
  }
  EXPECT_EQ(SubscriptionNamed("H_A.txt"), "H_A.url");
  EXPECT_EQ(SubscriptionNamed("h_a.URL"), "h_a.URL");
  EXPECT_EQ(SubscriptionNamed("M_Hosts.txt"), std::nullopt);
}

TEST(ListCheckTest, AHostsListHasAnAddressLineAndNeitherNulNorMarkup) {
  using V = ListCheck::Verdict;
  for (const auto& [pieces, verdict] : std::vector<std::pair<std::vector<std::string>, V>>{
           {{"# a list\n0.0.0.0 a.example\n"}, V::kList},
           {{"# comment\n\t127.0.", "0.1\tb.example # x"}, V::kList},  // a line across pieces
           {{"::1 localhost\n"}, V::kList},
           {{"fe80::1%lo0 x\n"}, V::kList},
           {{"::ffff:10.0.0.1 x\n"}, V::kList},
           {{"1:2:3:4:5:6:7:8 x\n"}, V::kList},
           {{std::string(5000, 'x') + "\n1.2.3.4 long.line.before\n"}, V::kList},
           {{"1.2.3.256 x\n1.2.3 x\n1.2.3x4 x\n01234.1.1.1 x\n0.0.0.0\n0.0.0.0 #x\n"},
            V::kNoEntries},
           {{"1:2:3:4:5:6:7:8:9 x\n1::2::3 x\n12345:: x\n:: \n"}, V::kNoEntries},
           {{std::string(5000, ' ') + "0.0.0.0 a"}, V::kNoEntries},  // past the longest line
           {{""}, V::kNoEntries},
           {{" \r\n", "\t<!DOCTYPE html>\n0.0.0.0 a\n"}, V::kHtml},
           {{"0.0.0.0 a\n", std::string("b\0c", 3)}, V::kNulBytes}}) {
    ListCheck check;
    for (const auto& piece : pieces) check.Feed(piece);
    EXPECT_EQ(check.Finish(), verdict) << ::testing::PrintToString(pieces);
  }
}

TEST(FetchStateTest, KeptWholeOrNotAtAll) {
  const FetchState state = {{"H_A.txt", {"https://a.example/", "\"e1\"", ""}},
                            {"H_B.txt", {"http://b.example/", "", "Mon, 07 Dec 2026"}}};
  EXPECT_EQ(ParseFetchState(FormatFetchState(state)), state);
  for (const std::string damaged :
       {"H_A.txt\thttps://a.example/\te\n", "H_A.txt\tftp://a\te\tl\n", "M.txt\thttp://a\te\tl\n",
        "H_A.txt\thttp://a\te\tl\nH_A.txt\thttp://b\te\tl\n"}) {
    EXPECT_TRUE(ParseFetchState(FormatFetchState(state) + damaged).empty()) << damaged;
  }
}

// A web server of the test's own: one reply for each address, every request recorded.
struct Served {
  platform::HttpReply reply;
  std::vector<std::string> pieces;  // the body of a 200 reply, as it arrives
};

class FetchTest : public ProgramFixture {
 protected:
  FetchTest() {
    Source("H_0Header.txt", HeaderText("2026-12-01"));
    WriteFile(P("Hostfiles/H_Web.url"), "https://lists.example/web.txt\n");
    session::Environment env = Env();
    env.http_get = [this](const platform::HttpRequest& request,
                          const platform::HttpBodySink& sink) {
      requests.push_back(request);
      const Served& served = server[request.url];
      platform::HttpReply reply = served.reply;
      for (const auto& piece : served.pieces) {
        if (reply.status == 200 && !sink(piece)) reply.failure = platform::HttpFailure::kStopped;
        if (reply.failure != platform::HttpFailure::kNone) break;
      }
      return reply;
    };
    session = std::make_unique<session::Session>(std::move(env));
    session->ProbePaths();
    session->on_fetch_progress = [this](const std::string& list, std::uint64_t bytes) {
      progress.emplace_back(list, bytes);
    };
  }
  void Serve(const std::string& url, int status, std::vector<std::string> pieces,
             const std::string& etag = {}) {
    server[url] = {{platform::HttpFailure::kNone, status, etag, "", "", ""}, std::move(pieces)};
  }
  std::vector<FetchResult> Fetch(session::FetchScope scope = session::FetchScope::kAll,
                                 const std::vector<std::string>& names = {},
                                 std::uint64_t max_bytes = platform::kMaxFileBytes) {
    session::FetchOptions options;
    options.max_bytes = max_bytes;
    return session->FetchSubscriptions(names, options, scope);
  }
  std::string Said(const std::vector<FetchResult>& results) {
    std::string text;
    for (const auto& result : results) text += view::FetchResultText(result) + "\n";
    return text;
  }

  std::map<std::string, Served> server;
  std::vector<platform::HttpRequest> requests;
  std::vector<std::pair<std::string, std::uint64_t>> progress;
  std::unique_ptr<session::Session> session;
};

// A list arrives whole; asked again with its validators it is left alone; another address
// drops them; a subscription whose list is there is not fetched for the missing lists.
TEST_F(FetchTest, AListIsUpdatedThenUnchangedAndTheValidatorsFollowTheAddress) {
  Serve("https://lists.example/web.txt", 200, {"0.0.0.0 a.ex", "ample\n"}, "\"v1\"");
  server["https://lists.example/web.txt"].reply.last_modified = "Mon, 07 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(Said(Fetch()), "H_Web.txt: updated (18 bytes)\n");
  EXPECT_EQ(ReadFile(P("Hostfiles/H_Web.txt")), "0.0.0.0 a.example\n");
  EXPECT_EQ(progress, (std::vector<std::pair<std::string, std::uint64_t>>{
                          {"H_Web.txt", 0}, {"H_Web.txt", 12}, {"H_Web.txt", 18}}));
  EXPECT_TRUE(requests.back().if_none_match.empty());
  session->ListSources();  // the list is a source; its subscription is not
  EXPECT_TRUE(session->FindEntry("H_Web.txt") && !session->FindEntry("H_Web.url"));
  const auto written = std::filesystem::last_write_time(P("Hostfiles/H_Web.txt"));
  Serve("https://lists.example/web.txt", 304, {});
  EXPECT_EQ(Said(Fetch(session::FetchScope::kNamed, {"H_Web.txt"})), "H_Web.txt: unchanged\n");
  EXPECT_EQ(std::pair(requests.back().if_none_match, requests.back().if_modified_since),
            std::pair(std::string("\"v1\""), std::string("Mon, 07 Dec 2026 10:00:00 GMT")));
  EXPECT_EQ(std::filesystem::last_write_time(P("Hostfiles/H_Web.txt")), written);
  EXPECT_TRUE(Fetch(session::FetchScope::kMissingLists).empty());

  WriteFile(P("Hostfiles/H_Web.url"), "https://lists.example/other.txt\n");
  Serve("https://lists.example/other.txt", 404, {});
  Fetch();  // a failure keeps the validators of the old address, which are not sent
  EXPECT_TRUE(requests.back().if_none_match.empty());
  EXPECT_TRUE(Contains(ReadFile(P(std::string(kFetchStateName))), "\"v1\""));
  std::filesystem::remove(P("Hostfiles/H_Web.txt"));
  WriteFile(P("Hostfiles/H_Web.url"), "https://lists.example/web.txt\n");
  Serve("https://lists.example/web.txt", 200, {"::1 b.example\n"});
  EXPECT_EQ(Said(Fetch(session::FetchScope::kMissingLists)), "H_Web.txt: updated (14 bytes)\n");
  EXPECT_TRUE(requests.back().if_none_match.empty());  // no copy: asked whole
}

// Whatever is refused keeps the last copy byte for byte, or makes no file where there was none,
// and leaves no temporary file behind.
TEST_F(FetchTest, ARefusedReplyKeepsTheLastCopyOrMakesNoFile) {
  const std::string url = "https://lists.example/web.txt";
  using F = platform::HttpFailure;
  for (const bool had_copy : {true, false}) {
    for (const auto& [failure, status, pieces, says] :
         std::vector<std::tuple<F, int, std::vector<std::string>, std::string>>{
             {F::kNone, 404, {}, "the server answered 404"},
             {F::kNone, 304, {}, "the server answered 304"},  // nothing was asked conditionally
             {F::kNone, 200, {"<html>\n", "0.0.0.0 a\n"}, "an HTML page, not a hosts list"},
             {F::kNone, 200, {"# nothing\n"}, "no line of an address and a name"},
             {F::kNone, 200, {"0.0.0.0 a\n", std::string(1, '\0')}, "holds NUL bytes"},
             {F::kNone, 200, {"0.0.0.0 a\n", "0.0.0.0 bb\n"}, "too large"},  // 21 > 20 bytes
             {F::kBroken, 200, {"0.0.0.0 a\n"}, "the transfer failed: cut short"},
             {F::kTimedOut, 0, {}, "timed out: slow"},
             {F::kInsecureRedirect, 302, {}, "redirected from https to http"}}) {
      if (had_copy) WriteFile(P("Hostfiles/H_Web.txt"), "0.0.0.0 old.example\n");
      std::filesystem::remove(P(std::string(kFetchStateName)));
      server[url] = {
          {F::kNone, status, "\"v2\"", "", "", failure == F::kBroken ? "cut short" : "slow"},
          pieces};
      server[url].reply.failure = failure;
      const std::string said = Said(Fetch(session::FetchScope::kAll, {}, 20));
      EXPECT_EQ(said.rfind("H_Web.txt: not updated: ", 0), 0u) << said;
      EXPECT_TRUE(Contains(said, says)) << said;
      EXPECT_TRUE(Contains(said, had_copy ? "(the last copy is kept)" : "(there is no copy yet)"));
      EXPECT_EQ(ReadFile(P("Hostfiles/H_Web.txt")), had_copy ? "0.0.0.0 old.example\n" : "");
      EXPECT_EQ(Exists(P("Hostfiles/H_Web.txt")), had_copy) << says;
      EXPECT_EQ(Entries(P("Hostfiles")), had_copy ? 3 : 2) << says;
      EXPECT_FALSE(Exists(P(std::string(kFetchStateName))));
      std::filesystem::remove(P("Hostfiles/H_Web.txt"));
    }
  }
  WriteFile(P("Hostfiles/H_Bad.url"), "[InternetShortcut]\n");
  EXPECT_TRUE(Contains(Said(Fetch(session::FetchScope::kNamed, {"H_Bad.url", "H_None.url"})),
                       "H_Bad.txt: not updated: H_Bad.url is no subscription: an Internet Shortcut "
                       "without a URL= line (there is no copy yet)\nH_None.txt: not updated: "
                       "H_None.url cannot be read: missing"));
}

// Where lines end in CR LF, a list published with LF gets its CRs (also across pieces), so that
// the merge sees its lines; the size said is the copy's. A list longer than a write block arrives
// whole, each byte once.
TEST_F(FetchTest, AListIsStoredWithTheSystemsLineEnds) {
  const std::string comment = "#" + std::string(200 << 10, 'x') + "\n";
  Serve("https://lists.example/web.txt", 200, {comment, comment, "0.0.0.0 a\n"});
  EXPECT_EQ(Said(Fetch()),
            "H_Web.txt: updated (" + std::to_string(2 * comment.size() + 10) + " bytes)\n");
  EXPECT_EQ(ReadFile(P("Hostfiles/H_Web.txt")), comment + comment + "0.0.0.0 a\n");

  session::Environment env = session->env();
  env.line_end = support::LineEnd::kCrLf;
  session = std::make_unique<session::Session>(std::move(env));
  session->ProbePaths();
  Serve("https://lists.example/web.txt", 200, {"0.0.0.0 a\n0.0.0.0 b\r", "\n0.0.0.0 c\n"});
  EXPECT_EQ(Said(Fetch()), "H_Web.txt: updated (33 bytes)\n");
  EXPECT_EQ(ReadFile(P("Hostfiles/H_Web.txt")), "0.0.0.0 a\r\n0.0.0.0 b\r\n0.0.0.0 c\r\n");
}

#ifndef _WIN32
// A link at the list's name is replaced, never written through.
TEST_F(FetchTest, AFetchReplacesALinkAtTheListsNameAndNotWhatItNames) {
  WriteFile(Sys("elsewhere"), "0.0.0.0 keep.example\n");
  std::filesystem::create_symlink(Sys("elsewhere"), P("Hostfiles/H_Web.txt"));
  Serve("https://lists.example/web.txt", 200, {"0.0.0.0 new.example\n"});
  EXPECT_EQ(Said(Fetch()), "H_Web.txt: updated (20 bytes)\n");
  EXPECT_FALSE(std::filesystem::is_symlink(P("Hostfiles/H_Web.txt")));
  EXPECT_EQ(ReadFile(P("Hostfiles/H_Web.txt")), "0.0.0.0 new.example\n");
  EXPECT_EQ(ReadFile(Sys("elsewhere")), "0.0.0.0 keep.example\n");
}
#endif

}  // namespace
}  // namespace vellomar::fetch
