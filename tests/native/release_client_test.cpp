#include <gtest/gtest.h>

#include "fake_machine.h"
#include "seam/app_error.h"
#include "setup/main_form.h"

namespace oq {
namespace {

using test::FakeMachine;
using test::FakeView;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(DecodeBodyTest, Utf8KeepsTheByteOrderMark) {
  const std::wstring text = DecodeBody(Bytes("\xEF\xBB\xBF" "1.7.18"), L"text/plain; charset=utf-8");
  ASSERT_EQ(text.size(), 7u);
  EXPECT_EQ(text[0], static_cast<wchar_t>(0xFEFF));
  EXPECT_EQ(text.substr(1), L"1.7.18");
}

TEST(DecodeBodyTest, CharsetFromContentType) {
  EXPECT_EQ(DecodeBody(Bytes("caf\xE9"), L"text/plain; charset=ISO-8859-1"), L"caf\xE9");
  EXPECT_EQ(DecodeBody(Bytes("caf\xC3\xA9"), L"text/plain"), L"caf\xE9");    // none named: UTF-8
  EXPECT_EQ(DecodeBody(Bytes("caf\xC3\xA9"), L""), L"caf\xE9");
  EXPECT_EQ(DecodeBody(Bytes(std::string("\xFF\xFE" "1\0.\0" "2\0", 8)), L"text/plain; charset=\"utf-16\""),
            std::wstring(L"\xFEFF" L"1.2"));
}

TEST(DecodeBodyTest, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(DecodeBody(Bytes("a\xC3"), L""), L"a\xFFFD");          // truncated
  EXPECT_EQ(DecodeBody(Bytes("\xC0\xAF" "b"), L""), L"\xFFFD" L"b");  // overlong
  EXPECT_EQ(DecodeBody(Bytes("\xFF" "c"), L""), L"\xFFFD" L"c");
}

class ReleaseClientTest : public ::testing::Test {
 protected:
  FakeMachine m;
  FakeView view;
  TfmMain form{m.machine, view, L"https://release.test/"};
};

TEST_F(ReleaseClientTest, TextOnlyOnStatus200) {
  m.http.Publish(L"https://release.test/files/publish/xlllibver.txt", "\xEF\xBB\xBF" "1.7.18");
  EXPECT_EQ(form.HttpGetText(VersionFileUrl(form.ReleaseBase())), L"\xFEFF" L"1.7.18");
  // A 404 carries an error page, which is not the version.
  EXPECT_EQ(form.HttpGetText(L"https://release.test/files/publish/missing.txt"), L"");
  EXPECT_EQ(m.dialogs.processMessagesCalls, 2);
}

TEST_F(ReleaseClientTest, HeadersStaySetForLaterDownloads) {
  m.files.AddDirectory(L"C:\\dl");
  form.HttpGetText(L"https://release.test/files/publish/xlllibver.txt");
  form.DownloadToFile(PackageUrl(form.ReleaseBase(), L"ORBITQuarry64"), L"C:\\dl\\ORBITQuarry64.zip");
  ASSERT_EQ(m.http.requests.size(), 2u);
  EXPECT_EQ(m.http.requests[1].url, L"https://release.test/files/publish/ORBITQuarry64n.zip");
  const auto& headers = m.http.requests[1].headers;
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0].name, L"Accept-Charset");
  EXPECT_EQ(headers[0].value, L"utf-8");
  EXPECT_EQ(headers[1].value, L"application/json");
  EXPECT_EQ(headers[2].value, L"ko-KR");
  // Setting them again does not add them twice.
  form.HttpGetText(L"https://release.test/x");
  EXPECT_EQ(m.http.requests[2].headers.size(), 3u);
}

TEST_F(ReleaseClientTest, DownloadWritesWhateverTheStatus) {
  m.files.AddDirectory(L"C:\\dl");
  form.DownloadToFile(L"https://release.test/files/publish/ORBITQuarry32n.zip", L"C:\\dl\\p.zip");
  EXPECT_EQ(m.files.Content(L"C:\\dl\\p.zip"), "<html><body><h1>404 Not Found</h1></body></html>");
}

TEST_F(ReleaseClientTest, TransportFailureRaisesAndWritesNothing) {
  m.files.AddDirectory(L"C:\\dl");
  m.http.unreachable = true;
  EXPECT_THROW(form.HttpGetText(L"https://release.test/x"), AppError);
  EXPECT_THROW(form.DownloadToFile(L"https://release.test/x", L"C:\\dl\\p.zip"), AppError);
  EXPECT_FALSE(m.files.FileExists(L"C:\\dl\\p.zip"));
}

TEST_F(ReleaseClientTest, DownloadIntoAMissingFolderRaisesWithTheSystemText) {
  try {
    form.DownloadToFile(L"https://release.test/x", L"C:\\nowhere\\p.zip");
    FAIL() << "no error raised";
  } catch (const AppError& e) {
    EXPECT_EQ(e.Code(), 3u);
    EXPECT_NE(e.Message().find(L"C:\\nowhere\\p.zip"), std::wstring::npos);
    EXPECT_NE(e.Message().find(L"cannot find the path"), std::wstring::npos);
  }
}

}  // namespace
}  // namespace oq
