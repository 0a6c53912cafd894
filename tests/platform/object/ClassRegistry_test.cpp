// Tests of creation by ProgID: built-in classes, the registry file, and libraries loaded with dlopen.
#include "platform/object/ClassRegistry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class Counter final : public Dispatch {
public:
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override {
        static const DispatchTable<Counter> table("Counter", {
            {"Value", [](Counter& self, InvokeKind k, std::vector<Variant>& a) -> Variant {
                 if (k == InvokeKind::PropertyPut) self.value_ = argument(a, 0, "Counter").as_int32();
                 return Variant(self.value_);
             }},
        });
        return table.invoke(*this, name, kind, args);
    }
    std::string type_name() const override { return "Counter"; }

private:
    int32_t value_ = 0;
};

class ClassRegistryTest : public testing::Test {
protected:
    void SetUp() override {
        registry_.register_class("Test.Counter", [] { return std::make_shared<Counter>(); });
    }

    std::string write_file(const std::string& text) {
        const std::string path = dir_ + "/classes.conf";
        std::ofstream(path) << text;
        return path;
    }

    int32_t create_error(std::string_view progid, std::string* description = nullptr) {
        try {
            registry_.create(progid);
        } catch (const ComError& e) {
            if (description) *description = e.description();
            return e.number();
        }
        return 0;
    }

    const test_support::TempDir temp_{"classreg"};
    const std::string& dir_ = temp_.path();
    ClassRegistry registry_;
};

TEST_F(ClassRegistryTest, BuiltInClassesAreFoundWhateverTheCase) {
    registry_.load_file(dir_ + "/absent.conf");  // no file: no entries, built-ins still work
    for (const char* progid : {"Test.Counter", "test.counter", "TEST.COUNTER"}) {
        SCOPED_TRACE(progid);
        const DispatchPtr object = registry_.create(progid);
        ASSERT_TRUE(object);
        EXPECT_EQ(object->type_name(), "Counter");
    }
    std::string why;
    EXPECT_EQ(create_error("Test.Nothing", &why), kErrCannotCreate);
    EXPECT_NE(why.find("Test.Nothing"), std::string::npos);
}

// A library's fallback class fills a gap only: the program's own class and a file entry both win over it.
TEST_F(ClassRegistryTest, DefaultClassesNeverReplaceAnotherClass) {
    registry_.load_file(write_file("Test.Greeter = " TEST_PLUGIN_PATH " : test_plugin_create\n"));
    const auto fallback = [] { return std::make_shared<Counter>(); };
    EXPECT_FALSE(registry_.register_default_class("test.COUNTER", [] { return DispatchPtr(); }));
    EXPECT_EQ(registry_.create("Test.Counter")->type_name(), "Counter");
    EXPECT_TRUE(registry_.register_default_class("Test.Greeter", fallback));
    EXPECT_EQ(registry_.create("Test.Greeter")->type_name(), "Greeter");
    EXPECT_TRUE(registry_.register_default_class("Test.Fallback", fallback));
    EXPECT_EQ(registry_.create("Test.Fallback")->type_name(), "Counter");
}

TEST_F(ClassRegistryTest, FileEntriesLoadTheirLibraryAndWinOverBuiltIns) {
    registry_.load_file(write_file("# classes\n\n"
                                   "Test.Greeter = " TEST_PLUGIN_PATH " : test_plugin_create\n"
                                   "; the file replaces the built-in counter\n"
                                   "Test.Counter = " TEST_PLUGIN_PATH " : test_plugin_create\n"));
    const DispatchPtr greeter = registry_.create("TEST.greeter");   // the factory is given "Test.Greeter"
    EXPECT_EQ(greeter->call("hello", {Variant("you")}), Variant("hello you"));
    EXPECT_EQ(greeter->type_name(), "Greeter");

    std::string why;
    EXPECT_EQ(create_error("Test.Counter", &why), kErrCannotCreate);  // the library has no such class
    EXPECT_NE(why.find("no class"), std::string::npos);
}

TEST_F(ClassRegistryTest, BrokenEntriesSayWhy) {
    registry_.load_file(write_file("A.Missing = " + dir_ + "/nowhere.so : f\n"
                                   "A.NoSymbol = " TEST_PLUGIN_PATH " : not_there\n"));
    std::string why;
    EXPECT_EQ(create_error("A.Missing", &why), kErrCannotCreate);
    EXPECT_NE(why.find("nowhere.so"), std::string::npos);
    EXPECT_EQ(create_error("A.NoSymbol", &why), kErrCannotCreate);
    EXPECT_NE(why.find("not_there"), std::string::npos);
}

// The file is read on the first creation; each malformed line is reported once, with its file and line,
// and the rest of the file and the built-in classes go on working.
TEST_F(ClassRegistryTest, MalformedLinesAreReportedOnceAndSkipped) {
    registry_.register_class("Test.Replaced", [] { return std::make_shared<Counter>(); });
    const std::string path = write_file("# comment\n"
                                        "Just.AName\n"
                                        "Test.Greeter = " TEST_PLUGIN_PATH " : test_plugin_create\n"
                                        " = lib.so : f\n"
                                        "test.replaced = lib.so\n"
                                        "A.NoLibrary = : f\n");
    std::vector<std::string> reports;
    registry_.set_report_sink([&](const std::string& text) { reports.push_back(text); });
    const char* saved = std::getenv("CLASS_REGISTRY");
    const std::string saved_value = saved ? saved : "";
    setenv("CLASS_REGISTRY", path.c_str(), 1);
    const DispatchPtr counter = registry_.create("Test.Counter");
    const DispatchPtr greeter = registry_.create("Test.Greeter");
    std::string why;
    const int32_t replaced = create_error("Test.Replaced", &why);
    saved ? setenv("CLASS_REGISTRY", saved_value.c_str(), 1) : unsetenv("CLASS_REGISTRY");

    EXPECT_EQ(counter->type_name(), "Counter");
    EXPECT_EQ(greeter->type_name(), "Greeter");
    EXPECT_EQ(replaced, kErrCannotCreate) << "a malformed line still names the class it meant to replace";
    EXPECT_NE(why.find(path + ":5"), std::string::npos) << why;
    EXPECT_EQ(create_error("A.NoLibrary", &why), kErrCannotCreate);
    EXPECT_NE(why.find(path + ":6"), std::string::npos) << why;
    const int malformed[] = {2, 4, 5, 6};
    ASSERT_EQ(reports.size(), std::size(malformed));
    for (size_t i = 0; i < reports.size(); ++i)
        EXPECT_NE(reports[i].find(path + ":" + std::to_string(malformed[i])), std::string::npos) << reports[i];
}

}  // namespace
