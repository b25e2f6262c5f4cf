// SPDX-License-Identifier: GPL-2.0-or-later
// XML-RPC calls and DokuWiki's answers.
#include "Cli_XmlRpc.h"

#include <gtest/gtest.h>

#include <string>

namespace tamsel::cli {
namespace {

TEST(XmlRpc, ReadsDokuWikisAnswers) {
  const auto wrap = [](const std::string& value) {
    return "<?xml version=\"1.0\"?>\n<methodResponse><params><param><value>" + value +
           "</value></param></params></methodResponse>";
  };
  using S = TRpcResponse::TStatus;
  // The dates DokuWiki sends carry an offset, which libxmlrpc-c alone refuses.
  TRpcResponse info = DecodeResponse(
      wrap("<struct><member><name>lastModified</name><value><dateTime.iso8601>2026-12-08T05:33:07+"
           "00:00</dateTime.iso8601></value></member><member><name>size</name><value><int>42</int>"
           "</value></member></struct>"));
  ASSERT_EQ(info.Status, S::Value) << info.Message;
  EXPECT_EQ(info.Value.Member("size")->Int, 42);
  EXPECT_EQ(info.Value.Member("lastModified")->Kind, TRpcValue::TKind::DateTime);
  for (const char* date : {"2026-12-08T05:33:07Z", "2026-12-08T05:33:07-05:30", "20261208T05:33:07",
                           "2026-12-08T05:33:07"}) {
    const std::string xml = wrap(std::string("<dateTime.iso8601>") + date + "</dateTime.iso8601>");
    EXPECT_EQ(DecodeResponse(xml).Status, S::Value) << date;
  }
  EXPECT_EQ(DecodeResponse(wrap("<dateTime.iso8601>yesterday</dateTime.iso8601>")).Status,
            S::Malformed);

  TRpcResponse text =
      DecodeResponse(wrap("<string>caf\xc3\xa9 &#039;x&#039; &lt;b&gt;\n\n  </string>"));
  ASSERT_EQ(text.Status, S::Value);
  EXPECT_EQ(text.Value.Text, "caf\xc3\xa9 'x' <b>\n\n  ");
  EXPECT_TRUE(DecodeResponse(wrap("<boolean>1</boolean>")).Value.IsTrue());
  EXPECT_FALSE(DecodeResponse(wrap("<boolean>0</boolean>")).Value.IsTrue());
  EXPECT_EQ(DecodeResponse(wrap("<base64>aGVsbG8=</base64>")).Value.Text, "hello");

  TRpcResponse fault = DecodeResponse(
      "<?xml version=\"1.0\"?><methodResponse><fault><value><struct><member><name>faultCode</name>"
      "<value><int>-32605</int></value></member><member><name>faultString</name><value><string>"
      "XML-RPC server not enabled.</string></value></member></struct></value></fault>"
      "</methodResponse>");
  EXPECT_EQ(fault.Status, S::Fault);
  EXPECT_EQ(fault.FaultCode, -32605);
  EXPECT_EQ(fault.Message, "XML-RPC server not enabled.");

  std::string deep;
  for (int i = 0; i < 5000; ++i)
    deep += "<array><data><value>";
  for (const std::string& bad : {std::string(), std::string("<html><title>Error</title></html>"),
                                 wrap("<string>cut"), wrap(deep)})
    EXPECT_EQ(DecodeResponse(bad).Status, S::Malformed) << bad.substr(0, 40);
}

TEST(XmlRpc, CallsCarryTextExactly) {
  const std::string text = "<b> & \"q\" \xc3\xa9\n\ttab\n";
  const std::string xml =
      EncodeCall("wiki.putPage", {TRpcValue::String(text), TRpcValue::Bytes("\x01\xff"),
                                  TRpcValue::Struct({{"minor", TRpcValue::Boolean(false)}})});
  // The call's own parser is the server's business; the text must come back
  // the same from a response holding the same encoding.
  const std::size_t open = xml.find("<value><string>"), close = xml.find("</string>");
  ASSERT_NE(open, std::string::npos);
  const std::string encoded = xml.substr(open + 7, close + 9 - open - 7);
  const TRpcResponse back =
      DecodeResponse("<?xml version=\"1.0\"?><methodResponse><params><param><value>" + encoded +
                     "</value></param></params></methodResponse>");
  ASSERT_EQ(back.Status, TRpcResponse::TStatus::Value) << back.Message;
  EXPECT_EQ(back.Value.Text, text);
  EXPECT_NE(xml.find("<base64>"), std::string::npos);

  EXPECT_TRUE(IsXmlText("tab\tline\n\xc3\xa9\xef\xbf\xbd"));
  for (const char* bad : {"a\x01b", "\x0b", "\x1f", "\xef\xbf\xbe", "\xef\xbf\xbf"})
    EXPECT_FALSE(IsXmlText(bad)) << bad;
}

} // namespace
} // namespace tamsel::cli
