#include "service/firewallblock.h"

#include "service/toolrunner.h"

// winsock2.h before windows.h, and both before the filtering and IP helper headers.
#include <winsock2.h>

#include <windows.h>

#include <ws2tcpip.h>

#include <fwpmu.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <rpc.h>

#include <QList>
#include <QUuid>

#include <cstring>
#include <string>
#include <vector>

#ifndef FWPM_FILTER_FLAG_PERSISTENT
#define FWPM_FILTER_FLAG_PERSISTENT 0x00000001
#endif
#ifndef FWPM_SUBLAYER_FLAG_PERSISTENT
#define FWPM_SUBLAYER_FLAG_PERSISTENT 0x00000001
#endif

namespace {

// The SDK's keys (fwpmu.h), which the mingw headers lack.
const GUID LayerConnectV4 = {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
const GUID LayerConnectV6 = {0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
const GUID LayerForwardV4 = {0xa82acc24, 0x4ee1, 0x4ee1, {0xb4, 0x65, 0xfd, 0x1d, 0x25, 0xcb, 0x10, 0xa4}};
const GUID LayerForwardV6 = {0x7b964818, 0x19c7, 0x493a, {0xb7, 0x1f, 0x83, 0x2c, 0x36, 0x84, 0xd2, 0x8c}};
const GUID ConditionFlags = {0x632ce23b, 0x5167, 0x435c, {0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c}};
const GUID ConditionLocalInterface = {0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};
const GUID ConditionForwardInterface = {0x1076b8a5, 0x6323, 0x4c5e, {0x98, 0x10, 0xe8, 0xd3, 0xfc, 0x9e, 0x61, 0x36}};
const GUID ConditionProtocol = {0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
const GUID ConditionRemoteAddress = {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
const GUID ConditionRemotePort = {0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
// For ICMP the local port field carries the type.
const GUID ConditionIcmpType = {0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};

// The kill switch's own sublayer; its filters are found and removed by this key.
const GUID SublayerKey = {0x3d0c8f52, 0x7a41, 0x4b6e, {0x9f, 0x2d, 0x51, 0xc4, 0x8e, 0x07, 0xa3, 0x6b}};

const quint8 ProtocolUdp = 17;
const quint8 ProtocolTcp = 6;
const quint8 ProtocolIcmpV6 = 58;

// One filter: conditions as given (their values must outlive the add), permit or block.
struct Filter
{
    GUID layer;
    std::vector<FWPM_FILTER_CONDITION0> conditions;
    bool permit = true;
};

FWPM_FILTER_CONDITION0 condition(const GUID &field, FWP_DATA_TYPE type)
{
    FWPM_FILTER_CONDITION0 value;
    ZeroMemory(&value, sizeof(value));
    value.fieldKey = field;
    value.matchType = FWP_MATCH_EQUAL;
    value.conditionValue.type = type;
    return value;
}

FWPM_FILTER_CONDITION0 uint8Condition(const GUID &field, quint8 number)
{
    FWPM_FILTER_CONDITION0 value = condition(field, FWP_UINT8);
    value.conditionValue.uint8 = number;
    return value;
}

FWPM_FILTER_CONDITION0 uint16Condition(const GUID &field, quint16 number)
{
    FWPM_FILTER_CONDITION0 value = condition(field, FWP_UINT16);
    value.conditionValue.uint16 = number;
    return value;
}

// Windows Filtering Platform: persistent filters (they outlive the service and a reboot) in a persistent
// sublayer of the service's own, on the connect layers for IPv4 and IPv6 and on the forwarding layers.
// Every change is one transaction.
class WfpFirewallBlock : public FirewallBlock
{
public:
    explicit WfpFirewallBlock(ToolRunner &) {}

    bool apply(const BlockRules &rules) override
    {
        if (rules.allowIpsec) {
            m_lastError = QStringLiteral("the IPsec exception is not available on this system yet");
            ToolLog(m_lastError);
            return false;
        }
        UINT64 tunnelLuid = 0;
        if (!rules.tunnelDevice.isEmpty() && !luidOf(rules.tunnelDevice, &tunnelLuid))
            return false;
        return inTransaction([&](HANDLE engine) {
            DWORD result = removeFilters(engine);
            if (result == NO_ERROR && !hasSublayer(engine))
                result = addSublayer(engine);
            if (result != NO_ERROR)
                return result;
            for (Filter &filter : filters(rules, &tunnelLuid)) {
                result = addFilter(engine, filter);
                if (result != NO_ERROR)
                    return result;
            }
            return DWORD(NO_ERROR);
        });
    }

    bool remove() override
    {
        return inTransaction([this](HANDLE engine) {
            DWORD result = removeFilters(engine);
            if (result == NO_ERROR && hasSublayer(engine))
                result = FwpmSubLayerDeleteByKey0(engine, &SublayerKey);
            return result;
        });
    }

    Status status() override
    {
        HANDLE engine = nullptr;
        if (!open(&engine))
            return Status::Unknown;
        FWPM_SUBLAYER0 *sublayer = nullptr;
        const DWORD result = FwpmSubLayerGetByKey0(engine, &SublayerKey, &sublayer);
        if (result == NO_ERROR)
            FwpmFreeMemory0(reinterpret_cast<void **>(&sublayer));
        FwpmEngineClose0(engine);
        if (result == NO_ERROR)
            return Status::Blocking;
        if (result == DWORD(FWP_E_SUBLAYER_NOT_FOUND))
            return Status::Open;
        m_lastError = QStringLiteral("Reading the filter sublayer failed: %1").arg(result);
        return Status::Unknown;
    }

private:
    bool open(HANDLE *engine)
    {
        // Not dynamic: what is added stays after the session and the process.
        FWPM_SESSION0 session;
        ZeroMemory(&session, sizeof(session));
        const DWORD result = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, engine);
        if (result == NO_ERROR)
            return true;
        if (*engine)
            FwpmEngineClose0(*engine);
        m_lastError = QStringLiteral("Error while opening engine: %1").arg(result);
        ToolLog(m_lastError);
        return false;
    }

    template <typename Work>
    bool inTransaction(Work work)
    {
        HANDLE engine = nullptr;
        if (!open(&engine))
            return false;
        DWORD result = FwpmTransactionBegin0(engine, 0);
        if (result == NO_ERROR) {
            result = work(engine);
            if (result == NO_ERROR)
                result = FwpmTransactionCommit0(engine);
            else
                FwpmTransactionAbort0(engine);
        }
        FwpmEngineClose0(engine);
        if (result != NO_ERROR) {
            m_lastError = QStringLiteral("Changing the kill switch filters failed: %1").arg(result);
            ToolLog(m_lastError);
        }
        return result == NO_ERROR;
    }

    bool luidOf(const QString &device, UINT64 *luid)
    {
        bool isIndex = false;
        const ulong index = device.toULong(&isIndex);
        NET_LUID value;
        const DWORD result = isIndex ? ConvertInterfaceIndexToLuid(NET_IFINDEX(index), &value)
                                     : ConvertInterfaceAliasToLuid(device.toStdWString().c_str(), &value);
        if (result != NO_ERROR) {
            m_lastError = QStringLiteral("No interface %1: %2").arg(device).arg(result);
            ToolLog(m_lastError);
            return false;
        }
        *luid = value.Value;
        return true;
    }

    static bool hasSublayer(HANDLE engine)
    {
        FWPM_SUBLAYER0 *sublayer = nullptr;
        if (FwpmSubLayerGetByKey0(engine, &SublayerKey, &sublayer) != NO_ERROR)
            return false;
        FwpmFreeMemory0(reinterpret_cast<void **>(&sublayer));
        return true;
    }

    static DWORD addSublayer(HANDLE engine)
    {
        std::wstring name = L"TOVRAVPN Kill Switch";
        FWPM_SUBLAYER0 sublayer;
        ZeroMemory(&sublayer, sizeof(sublayer));
        sublayer.subLayerKey = SublayerKey;
        sublayer.displayData.name = &name[0];
        sublayer.displayData.description = &name[0];
        sublayer.flags = FWPM_SUBLAYER_FLAG_PERSISTENT;
        sublayer.weight = 0x200;
        return FwpmSubLayerAdd0(engine, &sublayer, nullptr);
    }

    // Every filter in the sublayer, whoever added it.
    static DWORD removeFilters(HANDLE engine)
    {
        HANDLE enumeration = nullptr;
        DWORD result = FwpmFilterCreateEnumHandle0(engine, nullptr, &enumeration);
        if (result != NO_ERROR)
            return result;
        QList<UINT64> ids;
        while (true) {
            FWPM_FILTER0 **entries = nullptr;
            UINT32 count = 0;
            result = FwpmFilterEnum0(engine, enumeration, 256, &entries, &count);
            if (result != NO_ERROR)
                break;
            for (UINT32 i = 0; i < count; ++i) {
                if (IsEqualGUID(entries[i]->subLayerKey, SublayerKey))
                    ids << entries[i]->filterId;
            }
            FwpmFreeMemory0(reinterpret_cast<void **>(&entries));
            if (count < 256)
                break;
        }
        FwpmFilterDestroyEnumHandle0(engine, enumeration);
        for (const UINT64 id : qAsConst(ids)) {
            if (result != NO_ERROR)
                break;
            result = FwpmFilterDeleteById0(engine, id);
        }
        return result;
    }

    // Conditions point into tunnelLuid and m_serverV6, which outlive the adding.
    std::vector<Filter> filters(const BlockRules &rules, UINT64 *tunnelLuid)
    {
        std::vector<Filter> list;
        const bool serverV6Address = rules.server.address.protocol() == QAbstractSocket::IPv6Protocol;
        for (const GUID &layer : {LayerConnectV4, LayerConnectV6}) {
            const bool v6 = IsEqualGUID(layer, LayerConnectV6);
            FWPM_FILTER_CONDITION0 loopback = condition(ConditionFlags, FWP_UINT32);
            loopback.matchType = FWP_MATCH_FLAGS_ALL_SET;
            loopback.conditionValue.uint32 = FWP_CONDITION_FLAG_IS_LOOPBACK;
            list.push_back({layer, {loopback}, true});
            if (*tunnelLuid != 0) {
                FWPM_FILTER_CONDITION0 tunnel = condition(ConditionLocalInterface, FWP_UINT64);
                tunnel.conditionValue.uint64 = tunnelLuid;
                list.push_back({layer, {tunnel}, true});
            }
            if (rules.server.isSet() && serverV6Address == v6) {
                FWPM_FILTER_CONDITION0 address =
                    condition(ConditionRemoteAddress, v6 ? FWP_BYTE_ARRAY16_TYPE : FWP_UINT32);
                if (v6) {
                    const Q_IPV6ADDR bytes = rules.server.address.toIPv6Address();
                    memcpy(m_serverV6.byteArray16, bytes.c, sizeof bytes.c);
                    address.conditionValue.byteArray16 = &m_serverV6;
                } else {
                    address.conditionValue.uint32 = rules.server.address.toIPv4Address();
                }
                const quint8 protocol = rules.server.protocol == QLatin1String("tcp") ? ProtocolTcp : ProtocolUdp;
                for (const quint16 port : rules.server.ports())
                    list.push_back({layer,
                                    {uint8Condition(ConditionProtocol, protocol), address,
                                     uint16Condition(ConditionRemotePort, port)},
                                    true});
            }
            // DHCP, DHCPv6 and the neighbour discovery messages that keep the uplink.
            list.push_back(
                {layer,
                 {uint8Condition(ConditionProtocol, ProtocolUdp), uint16Condition(ConditionRemotePort, v6 ? 547 : 67)},
                 true});
            if (v6) {
                for (const quint16 type : {133, 135, 136, 143})
                    list.push_back(
                        {layer,
                         {uint8Condition(ConditionProtocol, ProtocolIcmpV6), uint16Condition(ConditionIcmpType, type)},
                         true});
            }
            list.push_back({layer, {}, false});
        }
        for (const GUID &layer : {LayerForwardV4, LayerForwardV6}) {
            if (*tunnelLuid != 0) {
                FWPM_FILTER_CONDITION0 tunnel = condition(ConditionForwardInterface, FWP_UINT64);
                tunnel.conditionValue.uint64 = tunnelLuid;
                list.push_back({layer, {tunnel}, true});
            }
            list.push_back({layer, {}, false});
        }
        return list;
    }

    static DWORD addFilter(HANDLE engine, Filter &spec)
    {
        std::wstring name = spec.permit ? L"TOVRAVPN Kill Switch - permit" : L"TOVRAVPN Kill Switch - block";
        FWPM_FILTER0 filter;
        ZeroMemory(&filter, sizeof(filter));
        filter.layerKey = spec.layer;
        filter.subLayerKey = SublayerKey;
        filter.displayData.name = &name[0];
        filter.flags = FWPM_FILTER_FLAG_PERSISTENT;
        // Permits before the block within the sublayer.
        filter.weight.type = FWP_UINT8;
        filter.weight.uint8 = spec.permit ? 15 : 0;
        filter.numFilterConditions = UINT32(spec.conditions.size());
        filter.filterCondition = spec.conditions.empty() ? nullptr : spec.conditions.data();
        filter.action.type = spec.permit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
        UINT64 id = 0;
        return FwpmFilterAdd0(engine, &filter, nullptr, &id);
    }

    FWP_BYTE_ARRAY16 m_serverV6{};
};

} // namespace

std::unique_ptr<FirewallBlock> CreateSystemFirewallBlock(ToolRunner &runner)
{
    return std::make_unique<WfpFirewallBlock>(runner);
}
