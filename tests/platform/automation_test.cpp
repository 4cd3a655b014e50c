// The automation runtime: variants, late-bound calls, error texts and creation.
#include "platform/automation.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace au = platform::automation;

namespace {

// An object that answers "Value" and throws whatever it was told to for "Fail".
class Probe : public au::Object {
 public:
  au::ObjectError failure;
  std::vector<au::Variant> last_args;
  au::InvokeKind last_kind = au::InvokeKind::Method;

  au::Variant invoke(std::string_view name, au::InvokeKind kind, const std::vector<au::Variant>& args) override {
    last_kind = kind;
    last_args = args;
    if (name == "Value") return au::Variant(std::int32_t{42});
    if (name == "Fail") throw failure;
    throw au::ObjectError{au::kUnknownName, ""};
  }
};

static std::string error_of(const std::function<void()>& f) { return testkit::error_of<au::Error>(f); }

}  // namespace

TEST(AutomationVariant, MissingIsTheParamNotFoundError) {
  au::Variant m = au::Variant::missing();
  EXPECT_TRUE(m.is_missing());
  EXPECT_TRUE(m.is_absent());
  EXPECT_EQ(m.type(), au::Variant::Type::Error);
  EXPECT_EQ(m.error_code(), au::kParamNotFound);
  EXPECT_FALSE(au::Variant(false).is_absent());
  EXPECT_FALSE(au::Variant(std::int32_t{0}).is_absent());
}

TEST(AutomationVariant, Conversions) {
  EXPECT_EQ(au::Variant(true).as_int(), -1);
  EXPECT_EQ(au::Variant("16.0").as_int(), 16);
  EXPECT_EQ(au::Variant(" 12 ").as_int(), 12);
  EXPECT_EQ(au::Variant(16.0).as_string(), "16");
  EXPECT_EQ(au::Variant(2.5).as_int(), 2);  // half to even
  EXPECT_EQ(au::Variant(3.5).as_int(), 4);
  EXPECT_TRUE(au::Variant("True").as_bool());
  EXPECT_FALSE(au::Variant("false").as_bool());
  EXPECT_TRUE(au::Variant("2").as_bool());
  EXPECT_EQ(au::Variant().as_int(), 0);
}

TEST(AutomationVariant, BadConversionsThrowWithTheirTexts) {
  EXPECT_EQ(error_of([] { (void)au::Variant("abc").as_int(); }), "Type mismatch");
  EXPECT_EQ(error_of([] { (void)au::Variant::null().as_string(); }), "Type mismatch");
  EXPECT_EQ(error_of([] { (void)au::Variant(1e12).as_int(); }), "Out of present range");
  EXPECT_EQ(error_of([] { (void)au::Variant(std::int32_t{1}).as_object(); }), "Type mismatch");
}

TEST(AutomationErrors, DescriptionLosesTrailingBlanksControlsAndDots) {
  struct Case {
    std::string description;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Cannot open the file.", "Cannot open the file"},
      {"Bad thing. \r\n", "Bad thing"},
      {"Ends with dots...\t.", "Ends with dots"},
      {"v1.2 inside stays", "v1.2 inside stays"},
      {"  leading kept", "  leading kept"},
  };
  auto probe = std::make_shared<Probe>();
  for (const auto& c : cases) {
    probe->failure = {au::kException, c.description};
    EXPECT_EQ(error_of([&] { au::call(probe, "Fail"); }), c.expected) << c.description;
  }
}

TEST(AutomationErrors, WithoutDescriptionTheCodeText) {
  auto probe = std::make_shared<Probe>();
  probe->failure = {au::kException, ""};
  EXPECT_EQ(error_of([&] { au::call(probe, "Fail"); }), "Exception occurred");
  probe->failure = {au::kException, " . "};  // nothing left after trimming
  EXPECT_EQ(error_of([&] { au::call(probe, "Fail"); }), "Exception occurred");
  probe->failure = {au::kBadIndex, ""};
  EXPECT_EQ(error_of([&] { au::call(probe, "Fail"); }), "Invalid index");
  probe->failure = {static_cast<std::int32_t>(0x800A03ECu), ""};
  EXPECT_EQ(error_of([&] { au::call(probe, "Fail"); }), "OLE error 800a03ec");
  try {
    au::call(probe, "Fail");
    FAIL();
  } catch (const au::Error& e) {
    EXPECT_EQ(e.code(), static_cast<std::int32_t>(0x800A03ECu));
  }
}

TEST(AutomationErrors, UnknownMemberNamesTheMember) {
  auto probe = std::make_shared<Probe>();
  EXPECT_EQ(error_of([&] { au::call(probe, "SaveAz"); }), "Method 'SaveAz' not supported by automation object");
  EXPECT_EQ(error_of([&] { au::put(probe, "Visible", true); }), "Method 'Visible' not supported by automation object");
}

TEST(AutomationErrors, ErrorsArePlatformExceptions) {
  auto probe = std::make_shared<Probe>();
  probe->failure = {au::kFail, "Boom."};
  try {
    au::call(probe, "Fail");
    FAIL();
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "Boom");
  }
}

TEST(AutomationInvoke, KindsAndArgumentsReachTheObject) {
  auto probe = std::make_shared<Probe>();
  EXPECT_EQ(au::call(probe, "Value").as_int(), 42);
  EXPECT_EQ(probe->last_kind, au::InvokeKind::Method);
  au::get(probe, "Value", {std::int32_t{3}});
  EXPECT_EQ(probe->last_kind, au::InvokeKind::PropertyGet);
  ASSERT_EQ(probe->last_args.size(), 1u);
  EXPECT_EQ(probe->last_args[0].as_int(), 3);
  au::call(probe, "Value", {"a", au::Variant::missing(), true});
  ASSERT_EQ(probe->last_args.size(), 3u);
  EXPECT_TRUE(probe->last_args[1].is_missing());
  au::put(probe, "Value", false);
  EXPECT_EQ(probe->last_kind, au::InvokeKind::PropertyPut);
  ASSERT_EQ(probe->last_args.size(), 1u);
  EXPECT_EQ(probe->last_args[0].type(), au::Variant::Type::Bool);
}

TEST(AutomationInvoke, NullObjectFailsWithAnError) {
  EXPECT_NE(error_of([] { au::call(nullptr, "Quit"); }), "(no error)");
}

TEST(AutomationCreate, RegisteredClassIsCreatedCaseInsensitively) {
  au::register_class("Test.Probe", [] { return std::make_shared<Probe>(); });
  au::initialize_thread();
  EXPECT_TRUE(au::thread_initialized());
  EXPECT_TRUE(au::is_registered("test.PROBE"));
  auto obj = au::create_object("TEST.probe");
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(au::call(obj, "Value").as_int(), 42);
  au::unregister_class("Test.Probe");
  EXPECT_FALSE(au::is_registered("Test.Probe"));
}

TEST(AutomationCreate, FailuresCarryTheProgId) {
  au::initialize_thread();
  EXPECT_EQ(error_of([] { au::create_object("No.Such.Class"); }), "Invalid class string, ProgID: \"No.Such.Class\"");
  au::register_class("Test.Refuses", []() -> au::ObjectPtr { throw au::ObjectError{au::kClassNotRegistered, ""}; });
  EXPECT_EQ(error_of([] { au::create_object("Test.Refuses"); }), "Class not registered, ProgID: \"Test.Refuses\"");
  au::register_class("Test.Odd", []() -> au::ObjectPtr { throw au::ObjectError{0x12345, "ignored"}; });
  EXPECT_EQ(error_of([] { au::create_object("Test.Odd"); }), "OLE error 00012345, ProgID: \"Test.Odd\"");
  au::unregister_class("Test.Refuses");
  au::unregister_class("Test.Odd");
}

TEST(AutomationCreate, UninitialisedThreadCannotCreate) {
  au::register_class("Test.Probe2", [] { return std::make_shared<Probe>(); });
  std::string text;
  std::thread t([&] { text = error_of([] { au::create_object("Test.Probe2"); }); });
  t.join();
  EXPECT_EQ(text, "CoInitialize has not been called, ProgID: \"Test.Probe2\"");
  au::unregister_class("Test.Probe2");
}

TEST(AutomationCreate, RegistryIsSafeAcrossThreads) {
  au::register_class("Test.Shared", [] { return std::make_shared<Probe>(); });
  std::atomic<int> created{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      au::initialize_thread();
      for (int k = 0; k < 50; ++k) {
        if (au::create_object("Test.Shared")) ++created;
        au::register_class("Test.Other" + std::to_string(k % 3), [] { return std::make_shared<Probe>(); });
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(created.load(), 200);
  au::unregister_class("Test.Shared");
}
