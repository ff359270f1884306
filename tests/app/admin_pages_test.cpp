// The user and configuration areas: accounts listed, the last administrator
// protected, forms that post to the right records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/page_renderer.h"

namespace pelorin::testing {
namespace {

std::string Hidden(const TParsedPage& page, const std::string& name) {
  return page.Value("string(//h:form[@method='post']//h:input[@type='hidden'][@name='" + name + "']/@value)");
}

TParsedPage RenderAdmin(const std::string& page, const std::string& store, const std::vector<std::string>& fields) {
  TPageRenderer renderer;
  const TRendered r = renderer.Render(page, store, fields, "admin", true);
  EXPECT_EQ("", r.errors);
  return TParsedPage(kXhtmlProlog, r.output);
}

std::string Users(const std::string& records) { return "<xUser>" + records + "</xUser>"; }

std::string User(const std::string& login, bool admin) {
  return "<User><USER>" + login + "</USER><PASSWORD>pw</PASSWORD><NAME>N " + login + "</NAME>" +
         (admin ? "<ADMIN/>" : "") + "</User>";
}

TEST(UserList, ListsEveryAccountWithEscapedNames) {
  const TParsedPage page = RenderAdmin("user/index.htm", FixtureText("users.xml"), {});
  ASSERT_TRUE(page.ok());
  const std::vector<std::string> logins = {"admin", "bob", "carol"};
  EXPECT_EQ(logins, page.Strings("//h:table/h:tbody/h:tr/h:td[1]/h:a"));
  EXPECT_NE(std::string::npos, page.BodyText().find("Bob <script>alert(1)</script>"));
  EXPECT_EQ(0, page.Count("//h:body//h:script"));
  EXPECT_EQ(1, page.Count("//h:a[@href='new.htm']"));
  EXPECT_EQ(2, page.Count("//h:a[@href='edit.htm?LOGIN=bob']"));  // login and Edit
}

TEST(UserList, TheLastAdministratorCannotBeDeleted) {
  struct {
    std::string store;
    std::vector<std::string> deletable;
  } const kCases[] = {
      {Users(User("admin", true) + User("bob", false)), {"delete.htm?LOGIN=bob"}},
      {Users(User("admin", true) + User("root", true)), {"delete.htm?LOGIN=admin", "delete.htm?LOGIN=root"}},
      // Two records of one login go together: neither leaves an administrator behind.
      {Users(User("admin", true) + User("admin", true)), {}},
      // Logins differing in case are different records for a delete.
      {Users(User("Admin", true) + User("admin", true)), {"delete.htm?LOGIN=Admin", "delete.htm?LOGIN=admin"}},
      {Users(User("bob", false)), {"delete.htm?LOGIN=bob"}},
  };
  for (const auto& c : kCases) {
    const TParsedPage page = RenderAdmin("user/index.htm", c.store, {});
    std::vector<std::string> offered = page.Strings("//h:a[starts-with(@href, 'delete.htm')]/@href");
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(c.deletable, offered) << c.store;
  }
}

TEST(UserDelete, RefusesTheLastAdministrator) {
  const TParsedPage page = RenderAdmin("user/delete.htm", FixtureText("users.xml"), {"LOGIN=admin"});
  ASSERT_TRUE(page.ok());
  EXPECT_EQ(0, page.Count("//h:form"));
  EXPECT_NE(std::string::npos, page.BodyText().find("last administrator"));
}

TEST(UserDelete, PostsADeleteOfThatAccount) {
  const std::string store = FixtureText("users.xml");
  const TParsedPage page = RenderAdmin("user/delete.htm", store, {"LOGIN=bob"});
  EXPECT_EQ("delete", Hidden(page, "Command"));
  EXPECT_EQ("index.htm", Hidden(page, "Redirect"));
  const std::string xpath = Hidden(page, "xPath");
  EXPECT_EQ("xUser/User[USER='bob']", xpath);
  TTempDir dir;
  WriteFile(dir.File("u.xml"), store);
  TQuickDom dom;
  ASSERT_EQ(0, dom.LoadFromFile(dir.File("u.xml")));
  ASSERT_TRUE(dom.SelectNode(xpath));
  ASSERT_TRUE(dom.SelectFirstChild());
  EXPECT_EQ("36892500000000", dom.GetSiblingText("ID"));
}

TEST(UserEdit, LastAdministratorKeepsTheFlag) {
  const TParsedPage admin = RenderAdmin("user/edit.htm", FixtureText("users.xml"), {"LOGIN=admin"});
  EXPECT_EQ(1, admin.Count("//h:input[@id='admin'][@checked][@disabled]"));
  const TParsedPage two = RenderAdmin("user/edit.htm", Users(User("admin", true) + User("root", true)), {"LOGIN=admin"});
  EXPECT_EQ(1, two.Count("//h:input[@id='admin'][@checked][not(@disabled)]"));
  const TParsedPage bob = RenderAdmin("user/edit.htm", FixtureText("users.xml"), {"LOGIN=bob"});
  EXPECT_EQ(1, bob.Count("//h:input[@id='admin'][not(@checked)][not(@disabled)]"));
}

TEST(UserEdit, PostsAnEditThatKeepsTheRecordsOtherParts) {
  const TParsedPage page = RenderAdmin("user/edit.htm", FixtureText("users.xml"), {"LOGIN=bob"});
  ASSERT_TRUE(page.ok());
  EXPECT_EQ("xUser/User[USER='bob']", Hidden(page, "xPath"));
  EXPECT_EQ("", Hidden(page, "Command"));
  EXPECT_EQ("return pelorinSaveUser(this, 'edit');", page.Value("string(//h:form[@method='post']/@onsubmit)"));
  EXPECT_EQ("bob", page.Value("string(//h:input[@id='login'][@readonly]/@value)"));
  EXPECT_EQ("Bob <script>alert(1)</script>", page.Value("string(//h:input[@id='display-name']/@value)"));
  // The stored password (or hash) never reaches the page: the field is write-only.
  EXPECT_EQ(0, page.Count("//h:input[@id='password-current']"));
  for (const std::string& value : page.Strings("//@*")) EXPECT_EQ(std::string::npos, value.find("b\"o'b")) << value;
  EXPECT_EQ(std::string::npos, page.BodyText().find("b\"o'b"));
  EXPECT_EQ("", page.Value("string(//h:input[@id='password']/@value)"));
  // The identifier stays; the server adds the owner anew, and a logout marker is not copied.
  EXPECT_EQ("<ID>36892500000000</ID>", page.Value("string(//h:input[@id='user-keep']/@value)"));
  const TParsedPage carol = RenderAdmin("user/edit.htm", FixtureText("users.xml"), {"LOGIN=carol"});
  EXPECT_EQ("", carol.Value("string(//h:input[@id='user-keep']/@value)"));
}

TEST(UserNew, KnowsTheLoginsInUse) {
  const TParsedPage page = RenderAdmin("user/new.htm", FixtureText("users.xml"), {});
  EXPECT_EQ((std::vector<std::string>{"admin", "bob", "carol"}), page.Strings("//h:input[@class='login-taken']/@value"));
  EXPECT_EQ("return pelorinSaveUser(this, 'insert');", page.Value("string(//h:form[@method='post']/@onsubmit)"));
  EXPECT_EQ(0, page.Count("//h:input[@name='xPath']"));
  EXPECT_EQ(0, page.Count("//h:input[@id='password-current'][@value!='']"));
}

TEST(UserPages, NameTheUnknownLogin) {
  const TParsedPage page = RenderAdmin("user/edit.htm", FixtureText("users.xml"), {"LOGIN=Admin"});
  EXPECT_EQ(0, page.Count("//h:form"));  // logins are matched exactly, as the delete does
}

TEST(ConfigPage, ShowsAndEditsThePort) {
  struct {
    std::string store;
    std::string shown;
    std::string command;
    std::string field;
  } const kCases[] = {
      {"<xConfig><ServiceProviderPort>9555</ServiceProviderPort></xConfig>", "9555", "edit", "9555"},
      // An edit through this page leaves an OWNER child, which the service ignores.
      {"<xConfig><ServiceProviderPort>8080<OWNER>admin</OWNER></ServiceProviderPort></xConfig>", "8080", "edit", "8080"},
      {"<xConfig><ServiceProviderPort>1</ServiceProviderPort><ServiceProviderPort>2</ServiceProviderPort></xConfig>",
       "1", "edit", "1"},
      {"<xConfig/>", "9555 (the default)", "insert", "9555"},
  };
  for (const auto& c : kCases) {
    const TParsedPage page = RenderAdmin("config/index.htm", c.store, {});
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(c.shown, page.Value("string(//h:table[@class='details']//h:td)")) << c.store;
    EXPECT_EQ(c.field, page.Value("string(//h:input[@id='port']/@value)")) << c.store;
    EXPECT_EQ("return pelorinSavePort(this, '" + c.command + "');",
              page.Value("string(//h:form[@method='post']/@onsubmit)"));
    EXPECT_EQ(c.command == "edit" ? "xConfig/ServiceProviderPort" : "", Hidden(page, "xPath"));
    EXPECT_NE(std::string::npos, page.BodyText().find("next start")) << c.store;
  }
}

TEST(AdminPages, MarkTheirAreaInTheTopBar) {
  EXPECT_EQ(1, RenderAdmin("user/index.htm", FixtureText("users.xml"), {}).Count("//h:a[@class='active'][@href='../user/index.htm']"));
  EXPECT_EQ(1, RenderAdmin("config/index.htm", FixtureText("config.xml"), {}).Count("//h:a[@class='active'][@href='../config/index.htm']"));
}

}  // namespace
}  // namespace pelorin::testing
