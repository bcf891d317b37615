#include "service/filterengine.h"

#include "common/windowssystem_win.h"
#include "service/dnsserverparse.h"
#include "service/toolrunner.h"

// winsock2.h before windows.h, and both before the filtering headers.
#include <winsock2.h>

#include <windows.h>

#include <fwpmu.h>
#include <rpc.h>

#include <QDebug>

#include <string>

#ifndef FWPM_SESSION_FLAG_DYNAMIC
#define FWPM_SESSION_FLAG_DYNAMIC 0x00000001
#endif

namespace {

// The SDK's keys (fwpmu.h), which the mingw headers lack.
const GUID LayerAleAuthConnectV4 = {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
const GUID ConditionIpProtocol = {0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
const GUID ConditionIpRemoteAddress = {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
const GUID ConditionIpRemotePort = {0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};

HANDLE ToHandle(FilterEngine::Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// Windows Filtering Platform through fwpuclnt: filters on the ALE connect layer for IPv4.
class WfpFilterEngine : public FilterEngine
{
public:
    explicit WfpFilterEngine(ToolRunner &runner) : m_runner(runner) {}

    quint32 openSession(bool dynamic, Handle *handle) override
    {
        FWPM_SESSION0 session;
        ZeroMemory(&session, sizeof(session));
        if (dynamic)
            session.flags = FWPM_SESSION_FLAG_DYNAMIC;
        HANDLE engine = nullptr;
        const DWORD result = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine);
        *handle = reinterpret_cast<Handle>(engine);
        return result;
    }

    quint32 closeSession(Handle session) override { return FwpmEngineClose0(ToHandle(session)); }

    bool hasSublayer(Handle session, const QUuid &key) override
    {
        const GUID guid = key;
        FWPM_SUBLAYER0 *sublayer = nullptr;
        if (FwpmSubLayerGetByKey0(ToHandle(session), &guid, &sublayer) != ERROR_SUCCESS)
            return false;
        FwpmFreeMemory0(reinterpret_cast<void **>(&sublayer));
        return true;
    }

    quint32 addSublayer(Handle session, const SublayerSpec &spec) override
    {
        std::wstring name = spec.name.toStdWString();
        std::wstring description = spec.description.toStdWString();
        FWPM_SUBLAYER0 sublayer;
        ZeroMemory(&sublayer, sizeof(sublayer));
        sublayer.subLayerKey = spec.key;
        sublayer.displayData.name = &name[0];
        sublayer.displayData.description = &description[0];
        sublayer.flags = 0;
        sublayer.providerKey = nullptr;
        sublayer.weight = spec.weight;
        return FwpmSubLayerAdd0(ToHandle(session), &sublayer, nullptr);
    }

    quint32 addFilter(Handle session, const FilterSpec &spec) override
    {
        if (spec.matchRemoteAddress && spec.remoteHost.protocol() != QAbstractSocket::IPv4Protocol) {
            // The filters sit on the IPv4 connect layer.
            ToolLog(QStringLiteral("Not an IPv4 DNS server: ") + spec.remoteHost.toString());
            return ERROR_INVALID_PARAMETER;
        }
        FWPM_FILTER_CONDITION0 conditions[3];
        ZeroMemory(conditions, sizeof(conditions));
        UINT32 count = 0;
        conditions[count].fieldKey = ConditionIpProtocol;
        conditions[count].matchType = FWP_MATCH_EQUAL;
        conditions[count].conditionValue.type = FWP_UINT8;
        conditions[count].conditionValue.uint8 = spec.protocol;
        ++count;
        if (spec.matchRemoteAddress) {
            conditions[count].fieldKey = ConditionIpRemoteAddress;
            conditions[count].matchType = FWP_MATCH_EQUAL;
            conditions[count].conditionValue.type = FWP_UINT32;
            conditions[count].conditionValue.uint32 = spec.remoteAddress;
            ++count;
        }
        conditions[count].fieldKey = ConditionIpRemotePort;
        conditions[count].matchType = FWP_MATCH_EQUAL;
        conditions[count].conditionValue.type = FWP_UINT16;
        conditions[count].conditionValue.uint16 = spec.remotePort;
        ++count;

        std::wstring name = spec.name.toStdWString();
        FWPM_FILTER0 filter;
        ZeroMemory(&filter, sizeof(filter));
        filter.layerKey = LayerAleAuthConnectV4;
        filter.subLayerKey = spec.sublayer;
        filter.displayData.name = &name[0];
        filter.flags = 0;
        filter.providerKey = nullptr;
        filter.weight.type = FWP_UINT8;
        filter.weight.uint8 = spec.weight;
        filter.numFilterConditions = count;
        filter.filterCondition = conditions;
        filter.action.type = spec.permit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
        UINT64 filterId = 0;
        return FwpmFilterAdd0(ToHandle(session), &filter, nullptr, &filterId);
    }

    // Each filter is in force as soon as it is added.
    quint32 commitSession(Handle) override { return ERROR_SUCCESS; }

    VpnDnsLookup findVpnDnsServer() override
    {
        // The system folder's ipconfig.exe by its full path: the service must not pick up one from its own or the
        // current folder.
        const QString ipconfig = WindowsSystem::systemFilePath(QStringLiteral("ipconfig.exe"));
        ToolRun run;
        if (!ipconfig.isEmpty())
            run = m_runner.run(ipconfig, {QStringLiteral("/all")});
        return ParseIpconfigDns(ToolLines(ToolText(run.output)));
    }

    // Filters of a dynamic session end with the process that opened it.
    void removeLeftovers() override {}

private:
    ToolRunner &m_runner;
};

} // namespace

std::unique_ptr<FilterEngine> CreateSystemFilterEngine(ToolRunner &runner)
{
    return std::make_unique<WfpFilterEngine>(runner);
}
