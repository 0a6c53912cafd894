// SkeldaClasses_test.cpp: creating "Skelda.DBConnect" by ProgID, built in and from libskelda.so named in a
// class registry file, the way the client library creates it without linking the database drivers.
#include "dbcomponent/SkeldaClasses.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "common/ComError.h"
#include "dbcomponent/DBConnect.h"
#include "tests/support/TempDir.h"

namespace {

class SkeldaClassesTest : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("CLASS_REGISTRY");
        ClassRegistry::instance().load_file(folder_ + "/none.conf");   // forget the entries again
    }
    const test_support::TempDir temp_{"dbcomp-classes"};
    const std::string& folder_ = temp_.path();
};

TEST_F(SkeldaClassesTest, SharedLibraryFromTheRegistryFileMakesAWorkingDBConnect) {
    const std::string registry = folder_ + "/classes.conf";
    std::ofstream(registry) << "# test registry\nSkelda.DBConnect = " << SKELDA_LIBRARY << " : skelda_create_object\n";
    ASSERT_EQ(::setenv("CLASS_REGISTRY", registry.c_str(), 1), 0);
    ClassRegistry::instance().load_file(ClassRegistry::default_file());

    DispatchPtr connect = ClassRegistry::instance().create("skelda.dbconnect");
    ASSERT_NE(connect, nullptr);
    EXPECT_EQ(connect->type_name(), "DBConnect");
    // The object's virtual table lies in the library, not in this program's copy of the class.
    Dl_info where{};
    ASSERT_NE(::dladdr(*reinterpret_cast<void**>(connect.get()), &where), 0);
    EXPECT_EQ(std::filesystem::path(where.dli_fname).filename(), "libskelda.so");
    EXPECT_EQ(connect->call("DBInit", {Variant("SQLite"), Variant("Data Source=" + folder_ + "/lib.db")}),
              Variant(true));

    DispatchPtr channel = object_of(connect->call("Channel"));
    EXPECT_EQ(channel->call("Direct", {Variant("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT)")}),
              Variant(int16_t{-1}));
    EXPECT_EQ(channel->call("Direct", {Variant("INSERT INTO t VALUES (4, 'four')")}), Variant(int16_t{1}));
    channel->call("OpenCursor", {Variant("SELECT id, name FROM t"), Variant(int16_t{0}), Variant(int16_t{1})});
    EXPECT_EQ(channel->get("", {Variant("name")}), Variant("four"));
    EXPECT_EQ(channel->call("DError"), Variant(""));

    // An error raised inside the library is caught here as the same ComError type.
    try {
        channel->call("mtier", {Variant("anything")});
        ADD_FAILURE() << "mtier must not be a member of the channel";
    } catch (const ComError& e) {
        EXPECT_EQ(e.number(), kErrNoMember);
    }
}

TEST_F(SkeldaClassesTest, BuiltInRegistrationAndUnknownProgIds) {
    ClassRegistry::instance().load_file(folder_ + "/none.conf");
    register_skelda_classes();
    DispatchPtr connect = ClassRegistry::instance().create("Skelda.DBConnect");
    EXPECT_NE(dynamic_cast<DBConnect*>(connect.get()), nullptr);
    EXPECT_EQ(skelda_create_object("Skelda.DBChannel"), nullptr) << "channels are not creatable";
    EXPECT_EQ(skelda_create_object(nullptr), nullptr);
}

}  // namespace
