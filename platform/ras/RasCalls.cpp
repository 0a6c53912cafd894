// RasCalls.cpp: the service's calls: checking the callers' records, the table of live dials by handle,
// and filling the records from the phonebook and the dials.
//
// Handles count up from 1 and are never reused, so a late notification can never match a newer dial.
// A hung-up dial leaves the table at once (its handle answers 6 from then on); its worker may still be
// ending processes, so its thread is joined later, by the next call that finds it finished, or when
// the process exits.
#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "common/Cp1252.h"
#include "platform/ras/DialSession.h"
#include "platform/ras/RasRecords.h"

extern char** environ;

namespace ras {

namespace {

class SessionTable {
public:
    ~SessionTable() {
        std::vector<std::shared_ptr<DialSession>> all;
        {
            std::lock_guard lock(mutex_);
            for (auto& [handle, session] : live_) all.push_back(session);
            live_.clear();
            all.insert(all.end(), retired_.begin(), retired_.end());
            retired_.clear();
        }
        for (const auto& session : all) session->hang_up();
        // the sessions' destructors join their workers
    }

    // Starts a dial of `entry`; 756 while the entry has a dial that runs or holds the link.
    uint32_t start(PhonebookEntry entry, DialRequest request, RasDialFunc1 notifier, HRASCONN* handle) {
        std::shared_ptr<DialSession> session;
        std::vector<std::shared_ptr<DialSession>> finished = take_finished();
        {
            std::lock_guard lock(mutex_);
            for (const auto& [h, other] : live_)
                if (other->entry().name == entry.name && other->holds_entry()) return kErrorDialAlreadyInProgress;
            const HRASCONN h = next_handle_++;
            session = std::make_shared<DialSession>(h, std::move(entry), std::move(request), std::move(notifier));
            live_.emplace(h, session);
            *handle = h;
        }
        session->start();
        return kRasOk;
    }

    std::shared_ptr<DialSession> find(HRASCONN handle) {
        std::lock_guard lock(mutex_);
        const auto it = live_.find(handle);
        return it == live_.end() ? nullptr : it->second;
    }

    uint32_t hang_up(HRASCONN handle) {
        std::shared_ptr<DialSession> session;
        {
            std::lock_guard lock(mutex_);
            const auto it = live_.find(handle);
            if (it == live_.end()) return kErrorInvalidHandle;
            session = it->second;
            live_.erase(it);
            retired_.push_back(session);
        }
        session->hang_up();
        take_finished();
        return kRasOk;
    }

private:
    // Removes the retired sessions whose workers have returned; they are joined (at once) when the
    // returned list goes, outside the lock. A worker never holds its own session, so it cannot join itself.
    std::vector<std::shared_ptr<DialSession>> take_finished() {
        std::vector<std::shared_ptr<DialSession>> done;
        std::lock_guard lock(mutex_);
        std::erase_if(retired_, [&](const std::shared_ptr<DialSession>& s) {
            if (!s->finished()) return false;
            done.push_back(s);
            return true;
        });
        return done;
    }

    std::mutex mutex_;
    std::map<HRASCONN, std::shared_ptr<DialSession>> live_;   // guarded by mutex_, as the rest
    std::vector<std::shared_ptr<DialSession>> retired_;       // hung up, worker maybe still running
    HRASCONN next_handle_ = 1;
};

SessionTable& sessions() {
    static SessionTable table;
    return table;
}

std::string utf8_field(const void* record, record::Field field) { return cp1252::to_utf8(record::get_text(record, field)); }

// The environment of the entry's commands: ours, with the entry's data added.
std::vector<std::string> command_environment(const PhonebookEntry& entry, const DialRequest& request) {
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (std::string_view(*e).rfind("RAS_", 0) != 0) env.emplace_back(*e);
    env.push_back("RAS_ENTRY=" + entry.name);
    env.push_back("RAS_PHONE=" + request.phone);
    env.push_back("RAS_USER=" + request.user);
    env.push_back("RAS_DOMAIN=" + request.domain);
    env.push_back("RAS_PASSWORD=" + request.password);
    return env;
}

}  // namespace

uint32_t RasEnumEntriesA(const char* reserved, const char* phonebook, void* lpRasEntryName, uint32_t* lpcb,
                         uint32_t* lpcEntries) {
    if (reserved != nullptr || lpcb == nullptr || lpcEntries == nullptr) return kErrorInvalidParameter;
    if (lpRasEntryName != nullptr && (*lpcb < 4 || record::get_u32(lpRasEntryName, 0) != kEntryNameSize))
        return *lpcb < 4 ? kErrorBufferTooSmall : kErrorInvalidSize;
    const Phonebook book = read_phonebook(phonebook);
    if (book.result != 0) return book.result;
    const uint32_t needed = static_cast<uint32_t>(book.entries.size()) * kEntryNameSize;
    *lpcEntries = static_cast<uint32_t>(book.entries.size());
    if (lpRasEntryName == nullptr || *lpcb < needed) {
        *lpcb = needed;
        return needed == 0 ? kRasOk : kErrorBufferTooSmall;
    }
    auto* out = static_cast<uint8_t*>(lpRasEntryName);
    for (const PhonebookEntry& entry : book.entries) {
        std::fill(out, out + kEntryNameSize, uint8_t{0});
        record::put_u32(out, 0, kEntryNameSize);
        record::put_text(out, record::kEntryName, cp1252::from_utf8(entry.name));
        out += kEntryNameSize;
    }
    *lpcb = needed;
    return kRasOk;
}

uint32_t RasGetEntryDialParamsA(const char* phonebook, void* lpRasDialParams, int32_t* lpfPassword) {
    if (lpRasDialParams == nullptr || lpfPassword == nullptr) return kErrorInvalidParameter;
    if (record::get_u32(lpRasDialParams, 0) != kDialParamsSize) return kErrorInvalidSize;
    if (!record::terminated(lpRasDialParams, record::kDialEntryName)) return kErrorBufferInvalid;
    const Phonebook book = read_phonebook(phonebook);
    if (book.result != 0) return book.result;
    const PhonebookEntry* entry = find_entry(book, utf8_field(lpRasDialParams, record::kDialEntryName));
    if (entry == nullptr) return kErrorCannotFindPhonebookEntry;
    record::put_text(lpRasDialParams, record::kDialPhoneNumber, "");
    record::put_text(lpRasDialParams, record::kDialCallbackNumber, "");
    record::put_text(lpRasDialParams, record::kDialUserName, cp1252::from_utf8(entry->user));
    record::put_text(lpRasDialParams, record::kDialPassword, cp1252::from_utf8(entry->password));
    record::put_text(lpRasDialParams, record::kDialDomain, cp1252::from_utf8(entry->domain));
    *lpfPassword = entry->password.empty() ? 0 : 1;
    return kRasOk;
}

uint32_t RasDialA(const void* lpRasDialExtensions, const char* phonebook, const void* lpRasDialParams,
                  uint32_t dwNotifierType, RasDialFunc1 lpvNotifier, HRASCONN* lphRasConn) {
    if (lphRasConn == nullptr || *lphRasConn != 0 || lpRasDialParams == nullptr || lpRasDialExtensions != nullptr ||
        dwNotifierType != 1 || !lpvNotifier)
        return kErrorInvalidParameter;
    if (record::get_u32(lpRasDialParams, 0) != kDialParamsSize) return kErrorInvalidSize;
    for (const record::Field field : {record::kDialEntryName, record::kDialPhoneNumber, record::kDialUserName,
                                      record::kDialPassword, record::kDialDomain})
        if (!record::terminated(lpRasDialParams, field)) return kErrorBufferInvalid;
    const Phonebook book = read_phonebook(phonebook);
    if (book.result != 0) return book.result;
    const PhonebookEntry* entry = find_entry(book, utf8_field(lpRasDialParams, record::kDialEntryName));
    if (entry == nullptr) return kErrorCannotFindPhonebookEntry;
    DialRequest request;
    request.phone = utf8_field(lpRasDialParams, record::kDialPhoneNumber);
    if (request.phone.empty()) request.phone = entry->phone;   // empty: the entry's own number
    request.user = utf8_field(lpRasDialParams, record::kDialUserName);
    request.password = utf8_field(lpRasDialParams, record::kDialPassword);
    request.domain = utf8_field(lpRasDialParams, record::kDialDomain);
    if (entry->backend == Backend::command) request.environment = command_environment(*entry, request);
    return sessions().start(*entry, std::move(request), std::move(lpvNotifier), lphRasConn);
}

uint32_t RasHangUpA(HRASCONN hrasconn) { return sessions().hang_up(hrasconn); }

uint32_t RasGetConnectStatusA(HRASCONN hrasconn, void* lpRasConnStatus) {
    if (lpRasConnStatus == nullptr) return kErrorInvalidParameter;
    if (record::get_u32(lpRasConnStatus, 0) != kConnStatusSize) return kErrorInvalidSize;
    const std::shared_ptr<DialSession> session = sessions().find(hrasconn);
    return session ? session->fill_status(lpRasConnStatus) : kErrorInvalidHandle;
}

uint32_t RasGetProjectionInfoA(HRASCONN hrasconn, uint32_t rasprojection, void* lpprojection, uint32_t* lpcb) {
    if (lpprojection == nullptr || lpcb == nullptr) return kErrorInvalidParameter;
    if (*lpcb < kPppIpSize) {
        *lpcb = kPppIpSize;
        return kErrorBufferTooSmall;
    }
    if (record::get_u32(lpprojection, 0) != kPppIpSize) return kErrorInvalidSize;
    const std::shared_ptr<DialSession> session = sessions().find(hrasconn);
    if (!session) return kErrorInvalidHandle;
    if (rasprojection != kRaspPppIp) return kErrorProtocolNotConfigured;
    return session->fill_projection(lpprojection);
}

}  // namespace ras
