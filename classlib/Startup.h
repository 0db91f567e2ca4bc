// Explicit start-up and shut-down of the libraries, and the application
// initialisation hooks.
//
// Every library of the program registers one start-up and one shut-down
// routine with an order key (RegisterUnit). The program registers all
// libraries explicitly (a library offers a registration function that the
// program calls from main), because objects of a static library are linked
// only when something refers to them. RunStartups then starts the units in
// ascending order of their keys (equal keys in registration order) and
// RunShutdowns shuts the started ones down in exactly the reverse order.
//
// Separately, AddInitProc collects routines that the application object runs
// once (RunInitProcs) when the application is initialised, after the
// libraries have started.
//
// Registration and running are serialised by a lock, but the routines
// themselves run on the calling thread (the main thread) without the lock
// held, so a routine may register further units or hooks.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace classlib {

using TUnitProc = void (*)();

// An ordered set of units. The program has one (the free functions below);
// separate lists are useful for tests.
class TUnitList {
public:
    // startup and shutdown may be null.
    void Register(std::wstring name, int order, TUnitProc startup, TUnitProc shutdown);
    // Starts every registered unit that has not been started, in order
    // (units registered by a start-up routine wait for the next call). When
    // a start-up raises, the units started by this call are shut down again
    // (newest first) and the exception propagates.
    void RunStartups();
    // Shuts down every started unit, the last started first. When a
    // shut-down raises, the others still run and the first exception is
    // raised again at the end.
    void RunShutdowns();
    // The names of the started units, in start order.
    std::vector<std::wstring> Started() const;

private:
    struct Unit {
        std::wstring name;
        int order;
        unsigned long long seq;
        TUnitProc startup;
        TUnitProc shutdown;
        bool started;
    };
    void ShutDownFrom(std::vector<std::size_t> order, bool rethrow);

    mutable std::mutex lock_;
    std::vector<Unit> units_;
    std::vector<std::size_t> started_;  // indexes into units_, in start order
    unsigned long long seq_ = 0;
};

// An application-initialisation hook list.
class TInitProcList {
public:
    void Add(TUnitProc proc);
    // Runs the hooks added so far in the order they were added (the oldest
    // first) and empties the list; hooks added while running run too. An
    // exception from a hook propagates and leaves the remaining hooks in the
    // list.
    void Run();
    std::size_t Count() const;

private:
    mutable std::mutex lock_;
    std::vector<TUnitProc> procs_;
};

// The program's unit list and hook list.
void RegisterUnit(std::wstring name, int order, TUnitProc startup, TUnitProc shutdown);
void RunStartups();
void RunShutdowns();
void AddInitProc(TUnitProc proc);
void RunInitProcs();

}  // namespace classlib
