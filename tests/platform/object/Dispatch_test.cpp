// Tests of late binding by member name and of event sinks that never keep their owner alive.
#include "platform/object/Dispatch.h"

#include <gtest/gtest.h>

#include "platform/object/EventSource.h"
#include "tests/support/ErrorOf.h"

namespace {

class Account final : public Dispatch {
public:
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override {
        static const DispatchTable<Account> table("Account", {
            {"Balance", [](Account& self, InvokeKind k, std::vector<Variant>& a) -> Variant {
                 if (k == InvokeKind::PropertyPut) {
                     self.balance_ = argument(a, 0, "Account").as_int32();
                     return {};
                 }
                 return Variant(self.balance_);
             }},
            {"Deposit", [](Account& self, InvokeKind, std::vector<Variant>& a) -> Variant {
                 self.balance_ += argument(a, 0, "Account").as_int32();
                 return Variant(self.balance_);
             }},
            {"", [](Account& self, InvokeKind, std::vector<Variant>&) -> Variant { return Variant(self.balance_); }},
        });
        return table.invoke(*this, name, kind, args);
    }
    std::string type_name() const override { return "Account"; }

private:
    int32_t balance_ = 0;
};

TEST(Dispatch, MembersAreFoundByNameWhateverTheCase) {
    const DispatchPtr account = std::make_shared<Account>();
    account->put("balance", {Variant(int32_t{10})});
    EXPECT_EQ(account->call("DEPOSIT", {Variant(int32_t{5})}), Variant(int32_t{15}));
    EXPECT_EQ(account->get("Balance"), Variant(int32_t{15}));
    EXPECT_EQ(account->get(""), Variant(int32_t{15}));  // the default member
}

TEST(Dispatch, CallersGetTheRunTimesErrors) {
    const DispatchPtr account = std::make_shared<Account>();
    const ComError unknown = error_of([&] { account->call("mtier", {Variant("x")}); });
    EXPECT_EQ(unknown.number(), kErrNoMember);
    EXPECT_EQ(unknown.source(), "Account");
    EXPECT_EQ(error_number([&] { account->call("Deposit"); }), 449);  // argument not optional
    EXPECT_EQ(error_number([] { object_of(Variant(DispatchPtr())); }), kErrObjectNotSet);
    EXPECT_EQ(error_number([] { object_of(Variant("text")); }), kErrObjectRequired);
    EXPECT_EQ(object_of(Variant(account)), account);
}

struct ClickSink {
    virtual ~ClickSink() = default;
    virtual void Click() = 0;
};

struct Owner final : ClickSink {
    std::shared_ptr<Owner>* holder = nullptr;  // the owner's only reference, dropped inside the handler
    int clicks = 0;
    bool alive_after_drop = false;
    void Click() override {
        ++clicks;
        if (holder) {
            holder->reset();          // lets go of itself, as an owner may inside its own handler
            alive_after_drop = true;  // still safe: the source pinned us for the call
        }
    }
};

TEST(EventSource, RaisesToALiveSinkAndPinsItForTheCall) {
    EventSource<ClickSink> source;
    EXPECT_FALSE(source.raise([](ClickSink& s) { s.Click(); }));  // nobody bound

    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> watch = owner;
    source.bind(owner);
    EXPECT_TRUE(source.raise([](ClickSink& s) { s.Click(); }));
    EXPECT_EQ(owner->clicks, 1);

    owner->holder = &owner;
    EXPECT_TRUE(source.raise([](ClickSink& s) { s.Click(); }));
    EXPECT_TRUE(watch.expired());  // gone once the handler returned
    EXPECT_FALSE(source.raise([](ClickSink& s) { s.Click(); }));  // and the source holds nothing alive
}

}  // namespace
