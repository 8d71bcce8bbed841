// The byte-level rules of the browser login: cookie lines, profiles.ini,
// the choice among cookies and the split of the value.
#include "server/browser_cookies.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kHost = "www.kiv.example";

std::string Line(const std::string& domain, const std::string& name, const std::string& value,
                 const std::string& expiry = "2000000000") {
  return domain + "\tTRUE\t/\tFALSE\t" + expiry + "\t" + name + "\t" + value + "\n";
}

std::vector<std::string> Values(const std::vector<BrowserCookie>& cookies) {
  std::vector<std::string> values;
  for (const BrowserCookie& c : cookies) values.push_back(c.value);
  return values;
}

TEST(NetscapeCookiesTest, OnlyTheExactNameOfTheKivHostCounts) {
  const std::string text = "# Netscape HTTP Cookie File\n" +
                           Line(".kiv.example", "kiv_token_old", "old") +
                           Line(".kiv.example", "KIV_TOKEN", "upper") +
                           Line(".other.example", "kiv_token", "other-site") +
                           Line("notkiv.example", "kiv_token", "suffix-only") + "#" +
                           Line(".kiv.example", "kiv_token", "commented") + "#HttpOnly_" +
                           Line(".kiv.example", "kiv_token", "7%3AAbC%3Ax") +
                           Line("kivmusic.example", "kiv_token", "service-domain");
  const std::vector<BrowserCookie> found = ParseNetscapeCookies(text, kHost);
  EXPECT_EQ(Values(found), (std::vector<std::string>{"7%3AAbC%3Ax"}));
  EXPECT_EQ(found[0].host, ".kiv.example");
  EXPECT_EQ(found[0].expiry, 2000000000);
}

TEST(NetscapeCookiesTest, DamagedTextNeitherCrashesNorReadsBeyond) {
  // No tabs, too few fields, CR line ends, a value with a blank, binary
  // bytes and NULs, a bad expiry and no final line end.
  std::string text = "kiv.example kiv_token spaced\n.kiv.example\tTRUE\t/\tkiv_token\n";
  text += std::string("\0\xff\x01\t\t\t\t\t\t\0", 11) + "\r\n";
  text += ".kiv.example\tTRUE\t/\tFALSE\tsoon\tkiv_token\tfirst second\r";
  text += Line(".kiv.example", "kiv_token", std::string(300, 'v')).substr(0, 350);
  const std::vector<BrowserCookie> found = ParseNetscapeCookies(text, kHost);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].value, "first");
  EXPECT_EQ(found[0].expiry, 0);  // unreadable: a session cookie
  EXPECT_EQ(found[1].value, std::string(kLoginCookieValueMax, 'v'));
  EXPECT_TRUE(ParseNetscapeCookies(std::string_view(), kHost).empty());
}

TEST(NetscapeCookiesTest, HostMatchesTheServerOrADomainAboveIt) {
  EXPECT_TRUE(IsKivCookieHost("127.0.0.1", "127.0.0.1"));
  EXPECT_TRUE(IsKivCookieHost(".Example.ORG", "api.example.org"));
  EXPECT_FALSE(IsKivCookieHost("xample.org", "api.example.org"));
  EXPECT_FALSE(IsKivCookieHost("api.example.org", "example.org"));
  EXPECT_FALSE(IsKivCookieHost(".", "example.org"));
}

TEST(NetscapeCookiesTest, ACookieOfAnotherKivNamedSiteIsNotTheServers) {
  // A visit to an attacker's kiv.* site plants a token of their account.
  for (const char* planted : {"kiv.attacker.example", ".kiv.attacker.example", "kivx.example",
                              "attacker.www.kiv.example", "example"})
    EXPECT_FALSE(IsKivCookieHost(planted, kHost)) << planted;
  EXPECT_FALSE(IsKivCookieHost("0.0.1", "127.0.0.1"));
  EXPECT_TRUE(IsKivCookieHost(".www.kiv.example", kHost));
  const auto found =
      ParseNetscapeCookies(Line(".kiv.attacker.example", "kiv_token", "666%3Aevil%3Ax") +
                               Line("www.kiv.example", "kiv_token", "7%3Agood%3Ax"),
                           kHost);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "7%3Agood%3Ax");
}

TEST(CookieChoiceTest, UnexpiredBeforeExpiredThenNewest) {
  const std::time_t now = 1800000000;
  std::optional<BrowserCookie> best;
  OfferCookie({"h", "expired-new", now - 1, 900}, now, &best);
  OfferCookie({"h", "live-old", now + 100, 100}, now, &best);
  OfferCookie({"h", "live-new", now + 50, 200}, now, &best);
  OfferCookie({"h", "expired-newest", 5, 999}, now, &best);
  EXPECT_EQ(best->value, "live-new");
  // Without creation times (cookies.txt): the session cookie, then the
  // latest expiry.
  best.reset();
  OfferCookie({"h", "a", now + 10, 0}, now, &best);
  OfferCookie({"h", "b", now + 20, 0}, now, &best);
  EXPECT_EQ(best->value, "b");
  OfferCookie({"h", "session", 0, 0}, now, &best);
  EXPECT_EQ(best->value, "session");
}

TEST(LoginTokenTest, EncodedColonsDecodeInEitherCase) {
  std::string user, token;
  EXPECT_TRUE(SplitLoginToken("4242%3Atok-AbC%3atail", &user, &token));
  EXPECT_EQ(user, "4242");
  EXPECT_EQ(token, "tok-AbC");  // the value's case is kept
  EXPECT_TRUE(SplitLoginToken("1:a:b:c", &user, &token));
  EXPECT_EQ(token, "a:b");
  EXPECT_FALSE(SplitLoginToken("4242:only-one-colon", &user, &token));
  EXPECT_EQ(user, "4242");
  EXPECT_EQ(token, "");
  EXPECT_FALSE(SplitLoginToken("nocolon", &user, &token));
  EXPECT_FALSE(SplitLoginToken(":tok:", &user, &token));
  EXPECT_FALSE(SplitLoginToken("7%3", &user, &token));
}

TEST(FirefoxProfilesTest, InstallDefaultFirstThenProfile0) {
  const std::string ini =
      "[Profile1]\r\nName=other\r\nIsRelative=1\r\nPath=zz.other\r\n\r\n"
      "[Install4F96D1932A9F858E]\r\nDefault=Profiles\\abc.default-release\r\nLocked=1\r\n"
      "[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/abc.default-release\r\n"
      "[General]\r\nStartWithLastProfile=1\r\n";
  EXPECT_EQ(FirefoxProfileDirs(ini, "/h/ff"),
            std::vector<std::string>{"/h/ff/Profiles/abc.default-release"});
  EXPECT_EQ(FirefoxProfileDirs("[Profile0]\nIsRelative=0\nPath=/abs/p\n"
                               "[InstallX]\nDefault=/abs/q\n",
                               "/r"),
            (std::vector<std::string>{"/abs/q", "/abs/p"}));
  // Absolute by its flag but not by its text: not a path.
  EXPECT_TRUE(FirefoxProfileDirs("[Profile0]\nIsRelative=0\nPath=rel\n", "/r").empty());
  EXPECT_TRUE(FirefoxProfileDirs("[Profile0\nPath=x\n[Profile0]\n=\nPath=\n", "/r").empty());
  EXPECT_TRUE(
      FirefoxProfileDirs("[Profile0]\nPath=" + std::string(2000, 'p') + "\n", "/r").empty());
}

}  // namespace
