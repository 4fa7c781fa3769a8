#include "toolkit/componentstream.h"

#include <gtest/gtest.h>

#include "toolkit/streams.h"

namespace {

class TAddress : public TPersistent {
 public:
  std::string mailbox;
  void WriteProperties(TPropertyWriter& w) const override {
    if (!mailbox.empty()) w.Property("Address", TPropValue::Str(mailbox));
  }
  bool ReadProperty(const std::string& name, const TPropValue& v) override {
    if (name != "Address") return false;
    mailbox = v.text;
    return true;
  }
};

// Published: Count (default 0), Title, Enabled (default true), Mode (ident), Items (list),
// Sender.Address (sub-object).
class TSample : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TSample"; }
  int64_t count = 0;
  std::string title;
  bool enabled = true;
  std::string mode = "meMIME";
  std::vector<TPropValue> items;
  TAddress sender;
  int setterCalls = 0;
  int setterCallsAtLoaded = -1;

  void WriteProperties(TPropertyWriter& w) const override {
    TComponent::WriteProperties(w);
    if (count != 0) w.Property("Count", TPropValue::Int(count));
    if (!title.empty()) w.Property("Title", TPropValue::Str(title));
    if (!enabled) w.Property("Enabled", TPropValue::Bool(enabled));
    if (mode != "meMIME") w.Property("Mode", TPropValue::Ident(mode));
    if (!items.empty()) w.Property("Items", TPropValue::List(items));
    w.Object("Sender", sender);
  }
  bool ReadProperty(const std::string& name, const TPropValue& v) override {
    ++setterCalls;
    if (name == "Count")
      count = v.integer;
    else if (name == "Title")
      title = v.text;
    else if (name == "Enabled")
      enabled = v.boolean;
    else if (name == "Mode")
      mode = v.text;
    else if (name == "Items")
      items = v.list;
    else
      return TComponent::ReadProperty(name, v);
    return true;
  }
  TPersistent* SubObject(const std::string& name) override { return name == "Sender" ? &sender : nullptr; }
  void Loaded() override { setterCallsAtLoaded = setterCalls; }
};

}  // namespace

TEST(ComponentStream, RoundTripKeepsEveryValue) {
  const std::string titles[] = {
      "plain", "say \"hi\"", "back\\slash\\", std::string("ctl\r\n\t\x01\x7f\xff\0end", 14), " spaced  ",
  };
  for (const std::string& title : titles) {
    TSample out;
    out.SetName("Sample1");
    out.SetTag(-3);
    out.count = INT64_MIN;
    out.title = title;
    out.enabled = false;
    out.mode = "meUU";
    out.items = {TPropValue::Str("Ann"), TPropValue::Str("ann@example.com"), TPropValue::Int(5),
                 TPropValue::List({TPropValue::Bool(true)}), TPropValue::List({})};
    out.sender.mailbox = "me (\"x\") @example.com";
    TMemoryStream stream;
    WriteComponent(stream, out);
    stream.SetPosition(0);
    TSample in;
    ReadComponent(stream, in);
    EXPECT_EQ(in.Name(), "Sample1");
    EXPECT_EQ(in.Tag(), -3);
    EXPECT_EQ(in.count, INT64_MIN);
    EXPECT_EQ(in.title, title);
    EXPECT_FALSE(in.enabled);
    EXPECT_EQ(in.mode, "meUU");
    EXPECT_EQ(in.items, out.items);
    EXPECT_EQ(in.sender.mailbox, out.sender.mailbox);
    EXPECT_EQ(in.setterCallsAtLoaded, in.setterCalls) << "Loaded must follow every setter";
  }
}

TEST(ComponentStream, TextLeavesDefaultsOut) {
  TSample s;
  s.SetName("pxMessage1");
  EXPECT_EQ(ComponentToText(s), "object pxMessage1: TSample\nend\n");
  s.sender.mailbox = "a@b";
  s.count = 25;
  EXPECT_EQ(ComponentToText(s), "object pxMessage1: TSample\n  Count = 25\n  Sender.Address = \"a@b\"\nend\n");
}

TEST(ComponentStream, MalformedTextRaisesAndSkipsLoaded) {
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"no object line", "  Count = 1\nend\n"},
      {"no end", "object S: TSample\n  Count = 1\n"},
      {"text after end", "object S: TSample\nend\n  Count = 1\n"},
      {"unknown property", "object S: TSample\n  Colour = 1\nend\n"},
      {"unknown sub-object", "object S: TSample\n  Recipient.Address = \"x\"\nend\n"},
      {"no equals sign", "object S: TSample\n  Count 1\nend\n"},
      {"unterminated string", "object S: TSample\n  Title = \"abc\nend\n"},
      {"bad escape", "object S: TSample\n  Title = \"\\xZZ\"\nend\n"},
      {"unclosed list", "object S: TSample\n  Items = (1 2\nend\n"},
      {"junk after value", "object S: TSample\n  Count = 1 2\nend\n"},
      {"closing bracket for a value", "object S: TSample\n  Title = )\nend\n"},
  };
  for (const Case& c : cases) {
    TSample s;
    EXPECT_THROW(ComponentFromText(c.text, s), EReadError) << c.name;
    EXPECT_FALSE(s.Loading()) << c.name;
    EXPECT_EQ(s.setterCallsAtLoaded, -1) << c.name;
  }
}
