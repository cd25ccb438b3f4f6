// Resolution of a converter's host name on a helper thread, so that the thread that needs the
// addresses waits for them together with its stop event: a name whose name service is slow or
// silent must not hold a reader's stop.
//
// Rule: the helper shares what it works on with the asker; an asker that gives up (stop, time-out)
// leaves the helper to finish and clean up alone. The helper holds a reference to this module
// while it runs, so that it may outlive the unloading of the add-in.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>
#include <string>
#include <vector>

// One address a host name resolved to.
struct TcpAddress
{
    int family = 0;
    int length = 0;             // of the address in `address`
    SOCKADDR_STORAGE address{};
};

// Resolves a host name and a service to stream addresses, in the resolver's order: 0 or the
// resolver's error code (as GetAddrInfoW gives it). May block for as long as the name service takes.
using TcpResolver = int (*)(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out);

// The system's resolver (GetAddrInfoW for TCP, any address family).
int SystemResolver(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out);

// A numeric address (IPv4 or IPv6 text) needs no name service: resolved at once, without a thread.
bool ResolveNumeric(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out);

enum class ResolveOutcome
{
    Resolved,   // `out` holds the addresses
    Failed,     // `error` holds the resolver's error
    Stopped,    // the stop event was set first (it is left set)
    TimedOut,   // `timeoutMs` passed first
};

// Runs `resolver` on a helper thread and waits for its result, `stopEvent` (may be null) or
// `timeoutMs` (INFINITE: no limit), whichever comes first. When no thread can be made the resolver
// runs on the caller's thread.
ResolveOutcome ResolveHost(TcpResolver resolver, const std::wstring& host, const std::wstring& service,
                           HANDLE stopEvent, DWORD timeoutMs, std::vector<TcpAddress>& out, int& error);
