#include "tools/unitsim/SnmpResponder.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace unitsim {
namespace {

struct PduFree {
    void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
using PduPtr = std::unique_ptr<netsnmp_pdu, PduFree>;

// A v1 session record for the library's parse and build; it only carries the version.
netsnmp_session V1Session()
{
    static const bool ready = [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_QUICK_PRINT, 1);
        return true;
    }();
    (void)ready;
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    return session;
}

SnmpMib::Oid ToOid(const netsnmp_variable_list* var)
{
    return SnmpMib::Oid(var->name, var->name + var->name_length);
}

const char* CommandName(int command)
{
    switch (command) {
    case SNMP_MSG_GET:
        return "GET";
    case SNMP_MSG_GETNEXT:
        return "GETNEXT";
    case SNMP_MSG_SET:
        return "SET";
    default:
        return "PDU";
    }
}

void SetValue(netsnmp_variable_list* var, const SnmpMib::Variable& v, double seconds)
{
    switch (v.type) {
    case SnmpMib::AsnType::Integer: {
        const long n = v.value.NumberAt(seconds);
        snmp_set_var_typed_value(var, ASN_INTEGER, &n, sizeof n);
        break;
    }
    case SnmpMib::AsnType::TimeTicks: {
        const u_long ticks = v.bUptime ? static_cast<u_long>(seconds * 100) & 0xFFFFFFFFul
                                       : static_cast<u_long>(static_cast<unsigned>(v.value.NumberAt(seconds)));
        snmp_set_var_typed_value(var, ASN_TIMETICKS, &ticks, sizeof ticks);
        break;
    }
    case SnmpMib::AsnType::OctetString: {
        const QByteArray bytes = v.value.IsText() ? v.value.TextBytes() : QByteArray::number(v.value.NumberAt(seconds));
        snmp_set_var_typed_value(var, ASN_OCTET_STR, bytes.constData(), bytes.size());
        break;
    }
    }
}

// The datagram of a built PDU, or empty when the library refuses it.
QByteArray Build(netsnmp_pdu* pdu)
{
    netsnmp_session session = V1Session();
    size_t length = 2048;
    size_t offset = 0;
    auto* buffer = static_cast<u_char*>(std::malloc(length));
    if (!buffer)
        return {};
    QByteArray datagram;
    // Reverse encoding: the message ends at the buffer's end and is offset bytes long.
    if (snmp_build(&buffer, &length, &offset, &session, pdu) == 0)
        datagram = QByteArray(reinterpret_cast<const char*>(buffer + length - offset), static_cast<qsizetype>(offset));
    std::free(buffer);
    return datagram;
}

} // namespace

SnmpResponder::SnmpResponder(QByteArray community, SnmpMib mib) : m_community(std::move(community)), m_mib(std::move(mib))
{
}

ProtocolModule SnmpResponder::Module()
{
    return ProtocolModule{
        "snmp",
        {"portCount", "numbering", "ports", "families", "arrays"},
        {"wrongCommunity", "errors"},
        [](const UnitDescription& unit) -> std::unique_ptr<IUnitProtocol> {
            return std::make_unique<SnmpResponder>(unit.community, SnmpMib::FromUnit(unit));
        }};
}

ProtocolReply SnmpResponder::Handle(const QByteArray& request, double secondsSinceStart)
{
    ProtocolReply reply;
    netsnmp_session session = V1Session();
    PduPtr pdu(static_cast<netsnmp_pdu*>(std::calloc(1, sizeof(netsnmp_pdu))));
    std::vector<u_char> bytes(request.begin(), request.end());
    if (!pdu || snmp_parse(nullptr, &session, pdu.get(), bytes.data(), bytes.size()) != 0 ||
        pdu->version != SNMP_VERSION_1) {
        // Not an SNMPv1 message: an agent of this kind drops it.
        reply.logText = QString("unreadable %1 bytes").arg(request.size());
        return reply;
    }

    QString text = CommandName(pdu->command);
    for (auto* var = pdu->variables; var; var = var->next_variable)
        text += ' ' + SnmpMib::FormatOid(ToOid(var));
    const QByteArray community(reinterpret_cast<const char*>(pdu->community), static_cast<qsizetype>(pdu->community_len));
    const bool bRightCommunity = community == m_community;
    if (!bRightCommunity)
        text += QString(" (wrong community \"%1\")").arg(QString::fromUtf8(community));
    reply.logText = text;

    if (pdu->command != SNMP_MSG_GET && pdu->command != SNMP_MSG_GETNEXT && pdu->command != SNMP_MSG_SET)
        return reply; // a response or trap sent to the agent: nothing to answer
    if (!bRightCommunity && m_mib.GetWrongCommunity() == SnmpMib::WrongCommunity::Silence)
        return reply;

    PduPtr response(snmp_clone_pdu(pdu.get()));
    if (!response)
        return reply;
    response->command = SNMP_MSG_RESPONSE;
    response->errstat = SNMP_ERR_NOERROR;
    response->errindex = 0;

    long errorStatus = SNMP_ERR_NOERROR;
    long errorIndex = 0;
    if (!bRightCommunity) {
        errorStatus = SNMP_ERR_NOACCESS;
    } else if (pdu->command == SNMP_MSG_SET) {
        errorStatus = SNMP_ERR_NOSUCHNAME; // nothing is writable
        errorIndex = 1;
    } else {
        long index = 1;
        for (auto* var = response->variables; var; var = var->next_variable, ++index) {
            const SnmpMib::Oid name = ToOid(var);
            if (pdu->command == SNMP_MSG_GET) {
                const int status = m_mib.ErrorStatusFor(name);
                const std::optional<SnmpMib::Variable> v = m_mib.Find(name);
                if (status != 0 || !v) {
                    errorStatus = status != 0 ? status : SNMP_ERR_NOSUCHNAME;
                    errorIndex = index;
                    break;
                }
                SetValue(var, *v, secondsSinceStart);
            } else {
                const std::optional<SnmpMib::Binding> next = m_mib.Next(name);
                const int status = next ? m_mib.ErrorStatusFor(next->first) : 0;
                if (!next || status != 0) {
                    errorStatus = next ? status : SNMP_ERR_NOSUCHNAME; // end of the MIB
                    errorIndex = index;
                    break;
                }
                std::vector<oid> nextName(next->first.begin(), next->first.end());
                snmp_set_var_objid(var, nextName.data(), nextName.size());
                SetValue(var, next->second, secondsSinceStart);
            }
        }
    }
    if (errorStatus != SNMP_ERR_NOERROR) {
        // A v1 agent returns the request's bindings unchanged with the error.
        response.reset(snmp_clone_pdu(pdu.get()));
        if (!response)
            return reply;
        response->command = SNMP_MSG_RESPONSE;
        response->errstat = errorStatus;
        response->errindex = errorIndex;
    }
    const QByteArray datagram = Build(response.get());
    if (!datagram.isEmpty())
        reply.datagrams << datagram;
    return reply;
}

} // namespace unitsim
