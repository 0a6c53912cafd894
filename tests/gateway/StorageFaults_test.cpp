// StorageFaults_test.cpp: the program vantrel over a SQLite file on a small RAM-backed volume of its own,
// which the test fills up or makes read-only. Each write that cannot be stored is answered with an error
// entry, reads go on, the gateway stays up, and writes succeed again once the space is back. Mounting the
// volume needs root; elsewhere these tests skip and say so.
#include <sqlite3.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/gateway/GatewayTestKit.h"
#include "tests/support/GatewayProcess.h"

namespace {

// A tmpfs of `megabytes` mounted on a fresh temporary folder, unmounted and removed at the end.
class ScratchVolume {
public:
    explicit ScratchVolume(int megabytes) {
        char pattern[] = "/tmp/vantrel-volume.XXXXXX";
        if (!::mkdtemp(pattern)) return;
        path_ = pattern;
        const std::string options = "size=" + std::to_string(megabytes) + "m";
        if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted_ = true;
        else
            why_not_ = std::strerror(errno);
    }
    ~ScratchVolume() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    bool mounted() const { return mounted_; }
    const std::string& why_not() const { return why_not_; }
    const std::string& path() const { return path_; }
    // Read-only from now on; only possible while no file on it is open for writing.
    bool make_read_only() {
        return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Writes a filler file until the volume has no space left.
    void fill() {
        std::ofstream filler(path_ + "/filler", std::ios::binary);
        const std::string block(64 * 1024, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
        }
    }
    void free_space() { std::filesystem::remove(path_ + "/filler"); }

private:
    std::string path_, why_not_;
    bool mounted_ = false;
};

bool is_error_entry(const std::optional<std::string>& reply) {
    return reply && reply->find(kStx) != std::string::npos && reply->find(kStx) > 0;
}

std::string insert_of(int id) {
    // About 16 KB per row, so that a few rows need fresh pages.
    return join({"direct", "INSERT INTO t VALUES (" + std::to_string(id) + ", hex(randomblob(8192)))"});
}

constexpr auto kPatience = std::chrono::seconds(30);

}  // namespace

TEST(StorageFaults, FullDiskGivesErrorEntriesAndWritesResumeWhenSpaceReturns) {
    ScratchVolume volume(8);
    if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << volume.why_not() << "); needs root";
    GatewayProcess gateway(VANTREL_PROGRAM, {"--connect", "Data Source=" + volume.path() + "/full.db"});
    TestClient client(gateway.port());
    client.send_first(join({"direct", "CREATE TABLE t (id INTEGER PRIMARY KEY, payload TEXT)"}));
    ASSERT_EQ(client.reply(kPatience), "ok");
    ASSERT_EQ(client.reply(kPatience), "-1");
    client.send(insert_of(1));
    ASSERT_EQ(client.reply(kPatience), "ok");
    ASSERT_EQ(client.reply(kPatience), " 1");

    volume.fill();
    // Space freed by SQLite itself (a checkpoint) may take a few more rows; then every write is refused.
    int id = 2, refused = 0;
    for (; id < 200 && refused < 5; ++id) {
        client.send(insert_of(id));
        const std::optional<std::string> ack = client.reply(kPatience);
        ASSERT_TRUE(ack.has_value()) << gateway.output();
        if (is_error_entry(ack))
            ++refused;   // a refused statement has no count
        else
            client.reply(kPatience);
    }
    EXPECT_EQ(refused, 5) << "no write was refused on a full volume";
    // Reads go on, over a cursor and in bulk.
    client.send(join({"open", "SELECT id, payload FROM t ORDER BY id", "1", "3"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    client.send(join({"getcursor", "id", "s"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    EXPECT_EQ(client.reply(kPatience), "n1");
    // An edit through the cursor that needs far more space is refused the same way, and the row stays
    // as it was.
    client.send(join({"setcursor", "payload", "s", std::string(1 << 20, 'y'), "s"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    client.send("update");
    const std::optional<std::string> updated = client.reply(kPatience);
    EXPECT_TRUE(is_error_entry(updated)) << updated.value_or("no reply");
    client.send("close");
    EXPECT_EQ(client.reply(kPatience), "ok");
    client.send(join({"open", "SELECT length(payload) AS n FROM t WHERE id = 1", "1", "3"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    client.send(join({"getcursor", "n", "s"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    EXPECT_EQ(client.reply(kPatience), "n16384");
    client.send("close");
    EXPECT_EQ(client.reply(kPatience), "ok");
    EXPECT_TRUE(gateway.running()) << gateway.output();

    volume.free_space();
    client.send(insert_of(1000));
    EXPECT_EQ(client.reply(kPatience), "ok") << gateway.output();
    EXPECT_EQ(client.reply(kPatience), " 1");
    TestClient another(gateway.port());
    another.send_first(join({"open", "SELECT count(*) AS n FROM t WHERE id = 1000", "1", "3"}));
    EXPECT_EQ(another.reply(kPatience), "ok");
    another.send(join({"getcursor", "n", "s"}));
    EXPECT_EQ(another.reply(kPatience), "ok");
    EXPECT_EQ(another.reply(kPatience), "n1");
}

TEST(StorageFaults, ReadOnlyDatabaseGivesErrorEntriesAndReadsGoOn) {
    ScratchVolume volume(4);
    if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << volume.why_not() << "); needs root";
    const std::string db = volume.path() + "/ro.db";
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
        std::unique_ptr<sqlite3, decltype(&sqlite3_close)> made(raw, &sqlite3_close);
        ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT); "
                                    "INSERT INTO t VALUES (1, 'Ann'), (2, 'Bo')", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ASSERT_TRUE(volume.make_read_only()) << std::strerror(errno);
    GatewayProcess gateway(VANTREL_PROGRAM, {"--connect", "Data Source=" + db});
    TestClient client(gateway.port());
    client.send_first(join({"open", "SELECT id, name FROM t ORDER BY id", "1", "3"}));
    EXPECT_EQ(client.reply(kPatience), "ok") << gateway.output();
    struct Step {
        std::string request;
        bool refused;
    };
    const Step steps[] = {
        {join({"direct", "INSERT INTO t VALUES (3, 'Cy')"}), true},
        {join({"setcursor", "name", "s", "Bea", "s"}), false},
        {"update", true},
        {join({"direct", "DELETE FROM t"}), true},
        {"add", true},   // a new record is refused at once
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.request);
        client.send(s.request);
        const std::optional<std::string> ack = client.reply(kPatience);
        ASSERT_TRUE(ack.has_value()) << gateway.output();
        EXPECT_EQ(is_error_entry(ack), s.refused) << *ack;
    }
    client.send("close");
    EXPECT_EQ(client.reply(kPatience), "ok");
    client.send(join({"open", "SELECT id, name FROM t ORDER BY id", "1", "3"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    client.send(join({"all", "id", "name"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    EXPECT_EQ(client.reply(kPatience), join({"1", "Ann", "2", "Bo"}));
    EXPECT_TRUE(gateway.running()) << gateway.output();
}
