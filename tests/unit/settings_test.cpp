// Connection settings: host:port puts, and saving and
// loading the settings through a property bag and its byte form.
#include <gtest/gtest.h>

#include "raises.h"
#include "scripted.h"

namespace corvane::testing {
namespace {

using testing_support::NumberRaisedBy;
using testing_support::Raised;
using testing_support::RaisedBy;
using Entries = std::vector<std::pair<std::u16string, BagValue>>;

// A bag that also records the keys asked for, in order.
class RecordingBag : public MemoryPropertyBag {
 public:
  std::vector<std::u16string> asked;

 protected:
  std::optional<BagValue> Get(std::u16string_view key) override {
    asked.emplace_back(key);
    return MemoryPropertyBag::Get(key);
  }
};

// The host ends at the first colon and the port is the number that follows; the
// setting is saved without the port. A port beyond 32 bits stores nothing.
TEST(HostSetting, SplitsAtTheFirstColonIntoHostAndPort) {
  const struct { std::u16string put, get, saved; } rows[] = {
      {u"pop.example.test:995", u"pop.example.test:995", u"pop.example.test"}, {u"h", u"h", u"h"},
      {u"h:", u"h", u"h"}, {u"h:x", u"h", u"h"}, {u"smtp.test:25:more", u"smtp.test:25", u"smtp.test"},
      {u"h: 99.5 x", u"h:100", u"h"}, {u": 1100.4", u":1100", u"?"} /* an empty host is not saved */,
      {u"h:4294967296", u"kept:110", u"kept"}};
  for (const auto& r : rows) {
    ScriptedControl s;
    s.control.POP3host(u"kept:110");
    s.control.SMTPhost(u"kept:110");
    s.host.changes.clear();
    const bool stored = r.get != u"kept:110";
    for (const bool pop3 : {true, false}) {
      EXPECT_EQ(NumberRaisedBy([&] { pop3 ? s.control.POP3host(r.put) : s.control.SMTPhost(r.put); }),
                stored ? ErrorNumber{} : ErrorNumber::Overflow);
    }
    EXPECT_EQ(s.control.POP3host(), r.get) << r.put.size();
    EXPECT_EQ(s.control.SMTPhost(), r.get) << r.put.size();
    MemoryPropertyBag bag;
    s.control.WriteProperties(bag);
    EXPECT_EQ(bag.ReadString(u"POP3host", u"?"), r.saved);
    const std::vector<std::u16string> both = {u"POP3host", u"SMTPhost"};
    EXPECT_EQ(s.host.changes, stored ? both : std::vector<std::u16string>());
  }
}

// A new instance saves only its empty sender, whose default is the null path.
TEST(SavedSettings, EverySettingWithItsKeyTypeAndOrder) {
  ScriptedControl s;
  MemoryPropertyBag fresh;
  s.control.WriteProperties(fresh);
  EXPECT_EQ(fresh.entries, (Entries{{u"SMTPsender", u""}}));
  s.control.POP3host(u"pop.test:1100");
  s.control.POP3user(u"ann");
  s.control.POP3password(u"secret");
  s.control.SMTPhost(u"smtp.test:2525");
  s.control.SMTPsender(u"<ann@test>");
  s.control.Timeout(25);
  s.control.IsSecured(true);
  s.control.SMTPuser(u"ann@test");
  s.control.SMTPpassword(u"token");  // never saved
  s.control.AuthMechanism(u"xoauth2");
  s.control.StartTLS(true);
  s.control.Charset(u"utf-8");
  RecordingBag bag;
  s.control.WriteProperties(bag);
  const Entries saved{{u"POP3host", u"pop.test"},     {u"POP3port", int32_t{1100}}, {u"POP3user", u"ann"},
                      {u"POP3password", u"secret"},   {u"SMTPhost", u"smtp.test"},  {u"SMTPport", int32_t{2525}},
                      {u"SMTPsender", u"<ann@test>"}, {u"TimeOut", int16_t{25}},    {u"IsSecured", true},
                      {u"SMTPuser", u"ann@test"},     {u"AuthMechanism", u"XOAUTH2"}, {u"StartTLS", true},
                      {u"Charset", u"UTF-8"}};
  EXPECT_EQ(bag.entries, saved);

  // Loaded by a new instance through the byte form: the same settings, read in
  // the same order, no change signalled, and saved again alike.
  RecordingBag copy;
  copy.entries = MemoryPropertyBag::Parse(bag.Serialize()).entries;
  ScriptedHost host;
  RecordingEvents events;
  Corvane loaded(host, events);
  loaded.ReadProperties(copy);
  std::vector<std::u16string> keys;
  for (const auto& entry : saved) keys.push_back(entry.first);
  EXPECT_EQ(copy.asked, keys);
  EXPECT_TRUE(host.socket->secured);
  EXPECT_TRUE(host.changes.empty());
  MemoryPropertyBag again;
  loaded.WriteProperties(again);
  EXPECT_EQ(again.entries, saved);
}

// Each row loads a bag into a control that had other settings, then saves it
// again: absent keys load their defaults, values of another type are converted
// as automation does, and a value that cannot be loaded is a clear error after
// the settings before it.
TEST(SavedSettings, LoadingGivesTheDefaultsConvertedValuesOrAClearError) {
  const struct { Entries loaded, saved; Raised raised = {}; } rows[] = {
      {{{u"SMTPsender", u""}}, {{u"SMTPsender", u""}}},  // an empty sender stays empty
      {{{u"TimeOut", int16_t{0}}}, {{u"TimeOut", int16_t{0}}}},  // no time limit, at the edge
      {{{u"POP3host", int32_t{7}}, {u"POP3port", u" 000000000995 "}, {u"SMTPport", int16_t{25}}, {u"TimeOut", int32_t{30}},
        {u"IsSecured", u"true"}},
       {{u"POP3host", u"7"}, {u"POP3port", int32_t{995}}, {u"SMTPport", int32_t{25}}, {u"TimeOut", int16_t{30}},
        {u"IsSecured", true}}},
      // each after a first setting read well
      {{{u"POP3port", u"pop"}}, {},
       {{ErrorNumber::TypeMismatch, "Saved setting POP3port: \"pop\" is not a whole number"}}},
      {{{u"SMTPport", u"99999999999"}}, {},
       {{ErrorNumber::Overflow, "Saved setting SMTPport: 99999999999 does not fit a 32-bit integer"}}},
      {{{u"TimeOut", int32_t{40000}}}, {},
       {{ErrorNumber::Overflow, "Saved setting TimeOut: 40000 does not fit a 16-bit integer"}}},
      {{{u"TimeOut", int16_t{61}}}, {},
       {{ErrorNumber::InvalidPropertyValue, "Saved setting TimeOut: 61 is not between 0 and 60"}}},
      {{{u"TimeOut", u"-32768"}}, {},  // fits 16 bits, at the very edge
       {{ErrorNumber::InvalidPropertyValue, "Saved setting TimeOut: -32768 is not between 0 and 60"}}},
      {{{u"IsSecured", u"maybe"}}, {},
       {{ErrorNumber::TypeMismatch, "Saved setting IsSecured: \"maybe\" is not a whole number"}}},
      {{{u"Charset", u"UTF-16"}}, {}, {{ErrorNumber::InvalidPropertyValue, "Charset: 'UTF-16' is not a value it takes"}}}};
  for (const auto& r : rows) {
    ScriptedControl s;
    s.control.SMTPhost(u"old:1");
    s.control.Timeout(20);
    s.control.IsSecured(true);
    MemoryPropertyBag bag;
    bag.entries = r.loaded;
    if (r.raised) bag.entries.insert(bag.entries.begin(), {u"POP3host", u"read.first"});
    EXPECT_EQ(RaisedBy([&] { s.control.ReadProperties(bag); }), r.raised);
    if (r.raised) {
      EXPECT_EQ(s.control.POP3host(), u"read.first");
      continue;
    }
    MemoryPropertyBag saved;
    s.control.WriteProperties(saved);
    EXPECT_EQ(saved.entries, r.saved);
  }
}

TEST(SavedSettings, TheByteFormRefusesDamagedAndNewerData) {
  MemoryPropertyBag bag;
  bag.entries = {{u"POP3user", u"ann"}, {u"TimeOut", int16_t{-2}}};
  const std::string bytes = bag.Serialize();
  EXPECT_EQ(MemoryPropertyBag::Parse(bytes).entries, bag.entries);
  std::string newer = bytes;
  newer[0] = 2;
  for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), bytes + "x", newer, std::string()}) {
    EXPECT_EQ(NumberRaisedBy([&] { MemoryPropertyBag::Parse(bad); }), ErrorNumber::InvalidFileFormat) << bad.size();
  }
}

}  // namespace
}  // namespace corvane::testing
