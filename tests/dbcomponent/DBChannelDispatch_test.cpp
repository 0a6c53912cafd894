// DBChannelDispatch_test.cpp: the channel and DBConnect called by member name, as the gateway's worker and
// the client library call them.
#include "dbcomponent/DBChannel.h"

#include "common/ComError.h"
#include "tests/dbcomponent/ChannelFixture.h"

namespace {

using DBChannelDispatchTest = ChannelTest;

DispatchPtr channel_by_name(DBConnect& connect) {
    return object_of(connect.Invoke("Channel", InvokeKind::Method, {}));
}

TEST_P(DBChannelDispatchTest, MembersAnswerByNameWithTheirResultKinds) {
    DispatchPtr channel = channel_by_name(*connect_);
    // Numbers arrive as text from the wire; the call coerces them as the run time would.
    channel->call("OpenCursor", {Variant(db_->sql("SELECT id, name FROM {t} ORDER BY id")), Variant("3"),
                                 Variant(int16_t{3})});
    EXPECT_EQ(channel->call("DError"), Variant(""));
    EXPECT_EQ(channel->get("", {Variant("name")}), Variant("alpha")) << "Fields is the default member";
    channel->put("", {Variant("name"), Variant("ALPHA")});
    channel->call("update");
    EXPECT_EQ(channel->call("TestCursor"), Variant(false));
    EXPECT_EQ(channel->call("RowCount"), Variant(int16_t{3}));
    EXPECT_TRUE(channel->call("MOVE", {Variant("next")}).is_empty());
    EXPECT_EQ(channel->get("Fields", {Variant(int32_t{0})}), Variant(int32_t{2}));
    EXPECT_EQ(channel->call("All", {Variant("id"), Variant(""), Variant("name")}),
              Variant(std::string("2") + kStx + "beta" + kStx + "3" + kStx + "gamma"));
    EXPECT_EQ(channel->call("Direct", {Variant(db_->sql("DELETE FROM {t} WHERE id = 3"))}), Variant(int16_t{1}));
    channel->call("CloseCursor");
    EXPECT_EQ(channel->call("DError"), Variant(""));
    EXPECT_EQ(scalar("SELECT name FROM {t} WHERE id = 1"), Variant("ALPHA"));
}

TEST_P(DBChannelDispatchTest, UnknownMembersRaise438) {
    DispatchPtr channel = channel_by_name(*connect_);
    struct Case {
        Dispatch* object;
        const char* name;
        InvokeKind kind;
    };
    const Case cases[] = {
        {channel.get(), "mtier", InvokeKind::Method},
        {channel.get(), "RowCount", InvokeKind::PropertyPut},
        {connect_.get(), "OpenCursor", InvokeKind::Method},
        {connect_.get(), "Channel", InvokeKind::PropertyPut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.object->Invoke(c.name, c.kind, {Variant("x")});
            ADD_FAILURE() << "no error raised";
        } catch (const ComError& e) {
            EXPECT_EQ(e.number(), kErrNoMember);
            EXPECT_EQ(e.description(), "Object doesn't support this property or method");
        }
    }
}

TEST_P(DBChannelDispatchTest, BadArgumentsAreRecordedNotRaised) {
    const Variant object = Variant(std::static_pointer_cast<Dispatch>(connect_));
    struct Case {
        const char* label;
        const char* name;
        InvokeKind kind;
        std::vector<Variant> args;
        int32_t error;
    };
    const Case cases[] = {
        {"OpenCursor without arguments", "OpenCursor", InvokeKind::Method, {}, 449},
        {"OpenCursor with a Null statement", "OpenCursor", InvokeKind::Method,
         {Variant::null(), Variant(int16_t{0}), Variant(int16_t{1})}, kErrInvalidNull},
        {"OpenCursor with a text cursor type", "OpenCursor", InvokeKind::Method,
         {Variant("SELECT 1"), Variant("forward"), Variant(int16_t{1})}, kErrTypeMismatch},
        {"Move with an object", "Move", InvokeKind::Method, {object}, kErrTypeMismatch},
        {"Direct without statement", "Direct", InvokeKind::Method, {}, 449},
        {"Fields read without index", "Fields", InvokeKind::PropertyGet, {}, 449},
        {"Fields assignment without value", "", InvokeKind::PropertyPut, {Variant("id")}, 449},
        {"All with thirteen names", "All", InvokeKind::Method, std::vector<Variant>(13, Variant("id")), 450},
        {"All with a Null name", "All", InvokeKind::Method, {Variant("id"), Variant::null()}, kErrInvalidNull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DispatchPtr channel = channel_by_name(*connect_);
        Variant result;
        EXPECT_NO_THROW(result = channel->Invoke(c.name, c.kind, c.args));
        const std::string error = channel->call("DError").as_text();
        EXPECT_EQ(error.substr(0, entry_prefix(c.error).size()), entry_prefix(c.error)) << error;
    }
}

TEST_P(DBChannelDispatchTest, DBInitByNameTakesOmittedOptionalsAsZero) {
    EXPECT_EQ(connect_->call("DBInit", {Variant(db_->provider()), Variant(db_->connect())}), Variant(true));
    EXPECT_EQ(connect_->call("dbinit", {Variant(db_->provider()), Variant(db_->connect()), Variant(),
                                        Variant(int16_t{-1}), Variant(int32_t{0})}),
              Variant(true));
    EXPECT_EQ(connect_->call("DBInit", {Variant(db_->provider())}), Variant(false)) << "Connect is required";
    EXPECT_EQ(connect_->call("DBInit", {Variant::null(), Variant(db_->connect())}), Variant(false));
    EXPECT_EQ(connect_->call("DBInit", {Variant(db_->provider()), Variant(db_->connect()), Variant("x")}),
              Variant(false));
}

INSTANTIATE_TEST_SUITE_P(Providers, DBChannelDispatchTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return provider_label(info.param); });

}  // namespace
