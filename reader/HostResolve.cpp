// Host-name resolution on a helper thread that the asker can stop waiting for.
#include "HostResolve.h"
#include "DetachedThread.h"
#include "Handles.h"
#include <memory>

namespace {

// Enough for the system's resolver; reserved, not committed, so that a helper left running costs
// little.
const SIZE_T ResolverStackSize = 256 * 1024;

struct AddrInfoFree
{
    void operator()(ADDRINFOW* info) const { FreeAddrInfoW(info); }
};

int Resolve(const std::wstring& host, const std::wstring& service, int flags, std::vector<TcpAddress>& out)
{
    ADDRINFOW hints{};
    hints.ai_flags = flags;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    int error = GetAddrInfoW(host.c_str(), service.c_str(), &hints, &found);
    if (error != 0)
        return error;
    std::unique_ptr<ADDRINFOW, AddrInfoFree> list(found);
    out.clear();
    for (const ADDRINFOW* info = found; info; info = info->ai_next) {
        if (!info->ai_addr || info->ai_addrlen > sizeof(SOCKADDR_STORAGE))
            continue;
        TcpAddress address;
        address.family = info->ai_family;
        address.length = static_cast<int>(info->ai_addrlen);
        memcpy(&address.address, info->ai_addr, info->ai_addrlen);
        out.push_back(address);
    }
    return out.empty() ? WSAHOST_NOT_FOUND : 0;
}

// What the asker and the helper share.
struct ResolveJob
{
    TcpResolver resolver = nullptr;
    std::wstring host;
    std::wstring service;
    CHandle done;               // set by the helper when `error` and `addresses` are final
    int error = 0;
    std::vector<TcpAddress> addresses;
};

} // namespace

int SystemResolver(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out)
{
    return Resolve(host, service, 0, out);
}

bool ResolveNumeric(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out)
{
    return Resolve(host, service, AI_NUMERICHOST, out) == 0;
}

ResolveOutcome ResolveHost(TcpResolver resolver, const std::wstring& host, const std::wstring& service,
                           HANDLE stopEvent, DWORD timeoutMs, std::vector<TcpAddress>& out, int& error)
{
    auto job = std::make_shared<ResolveJob>();
    job->resolver = resolver;
    job->host = host;
    job->service = service;
    job->done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));

    // The helper holds its share of the job: an asker that gives up leaves it to the helper to free.
    auto resolve = [job] {
        job->error = job->resolver(job->host, job->service, job->addresses);
        SetEvent(job->done.Get());
    };
    const bool started = job->done.Valid() && StartDetachedThread(resolve, ResolverStackSize);
    if (!started) {
        error = resolver(host, service, out);
        return error == 0 ? ResolveOutcome::Resolved : ResolveOutcome::Failed;
    }

    HANDLE handles[2] = {job->done.Get(), stopEvent};
    const DWORD r = WaitForMultipleObjects(stopEvent ? 2 : 1, handles, FALSE, timeoutMs);
    if (r == WAIT_OBJECT_0 + 1)
        return ResolveOutcome::Stopped;
    if (r == WAIT_TIMEOUT)
        return ResolveOutcome::TimedOut;
    if (r != WAIT_OBJECT_0) {
        error = static_cast<int>(GetLastError());
        return ResolveOutcome::Failed;
    }
    error = job->error;
    if (error != 0)
        return ResolveOutcome::Failed;
    out = job->addresses;
    return ResolveOutcome::Resolved;
}
