// Gateway.cpp: the list of live workers, kept only so that the program can end them on shut-down.
#include "gateway/Gateway.h"

#include <algorithm>

#include "gateway/SSWorker.h"

void Gateway::add_worker(const std::shared_ptr<SSWorker>& worker) {
    if (workers_.size() >= prune_at_) {
        std::erase_if(workers_, [](const std::weak_ptr<SSWorker>& w) { return w.expired(); });
        prune_at_ = std::max<size_t>(64, 2 * workers_.size());
    }
    workers_.push_back(worker);
    ++serving_;
}

void Gateway::end_workers() {
    std::vector<std::weak_ptr<SSWorker>> workers;
    workers.swap(workers_);
    for (const std::weak_ptr<SSWorker>& w : workers)
        if (const auto worker = w.lock()) worker->end();
}
