#include "classlib/Startup.h"

#include <algorithm>
#include <exception>

namespace classlib {

void TUnitList::Register(std::wstring name, int order, TUnitProc startup, TUnitProc shutdown)
{
    std::lock_guard<std::mutex> g(lock_);
    units_.push_back(Unit{std::move(name), order, seq_++, startup, shutdown, false});
}

void TUnitList::RunStartups()
{
    std::vector<std::size_t> pending;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (std::size_t i = 0; i < units_.size(); ++i)
            if (!units_[i].started) pending.push_back(i);
        std::stable_sort(pending.begin(), pending.end(), [this](std::size_t a, std::size_t b) {
            return units_[a].order != units_[b].order ? units_[a].order < units_[b].order
                                                      : units_[a].seq < units_[b].seq;
        });
    }
    std::vector<std::size_t> startedNow;
    for (std::size_t i : pending) {
        TUnitProc proc;
        {
            std::lock_guard<std::mutex> g(lock_);
            proc = units_[i].startup;
        }
        try {
            if (proc) proc();
        } catch (...) {
            ShutDownFrom(startedNow, false);
            throw;
        }
        std::lock_guard<std::mutex> g(lock_);
        units_[i].started = true;
        started_.push_back(i);
        startedNow.push_back(i);
    }
}

void TUnitList::ShutDownFrom(std::vector<std::size_t> order, bool rethrow)
{
    std::exception_ptr first;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        TUnitProc proc;
        {
            std::lock_guard<std::mutex> g(lock_);
            Unit& u = units_[*it];
            if (!u.started) continue;
            u.started = false;
            started_.erase(std::remove(started_.begin(), started_.end(), *it), started_.end());
            proc = u.shutdown;
        }
        try {
            if (proc) proc();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first && rethrow) std::rethrow_exception(first);
}

void TUnitList::RunShutdowns()
{
    std::vector<std::size_t> order;
    {
        std::lock_guard<std::mutex> g(lock_);
        order = started_;
    }
    ShutDownFrom(std::move(order), true);
}

std::vector<std::wstring> TUnitList::Started() const
{
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::wstring> names;
    for (std::size_t i : started_) names.push_back(units_[i].name);
    return names;
}

void TInitProcList::Add(TUnitProc proc)
{
    if (!proc) return;
    std::lock_guard<std::mutex> g(lock_);
    procs_.push_back(proc);
}

void TInitProcList::Run()
{
    while (true) {
        TUnitProc proc;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (procs_.empty()) return;
            proc = procs_.front();
        }
        proc();
        std::lock_guard<std::mutex> g(lock_);
        // The hook just run is the front one: hooks are only appended.
        procs_.erase(procs_.begin());
    }
}

std::size_t TInitProcList::Count() const
{
    std::lock_guard<std::mutex> g(lock_);
    return procs_.size();
}

namespace {

TUnitList& ProgramUnits()
{
    static TUnitList list;
    return list;
}

TInitProcList& ProgramInitProcs()
{
    static TInitProcList list;
    return list;
}

}  // namespace

void RegisterUnit(std::wstring name, int order, TUnitProc startup, TUnitProc shutdown)
{
    ProgramUnits().Register(std::move(name), order, startup, shutdown);
}
void RunStartups() { ProgramUnits().RunStartups(); }
void RunShutdowns() { ProgramUnits().RunShutdowns(); }
void AddInitProc(TUnitProc proc) { ProgramInitProcs().Add(proc); }
void RunInitProcs() { ProgramInitProcs().Run(); }

}  // namespace classlib
