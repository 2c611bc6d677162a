// The login, persistent-target, delete and logout records, filled from the
// login-options groups of the tree, and the negotiated values of a login
// answer stored back into it; the tree walks over the sessions' ISID
// qualifiers.
#include "iscsi/iscsi_login_records.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_addr.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"

namespace {

// A text into a fixed field: zero-padded, cut to the width minus one.
void put_text(char *field, size_t width, const char *text)
{
    memset(field, 0, width);
    if (text != nullptr)
        memcpy(field, text, strnlen(text, width - 1));
}

uint16_t port_of(const char *port)
{
    return (uint16_t)strtoul(port, nullptr, 10);
}

// A secret: "0x"/"0X" and hexadecimal digits become bytes, anything else is
// taken as text. Either way the 16-byte field holds at most 16 bytes, and the
// length says how many of them count.
void put_secret(const char *text, char field[16], uint16_t *length)
{
    memset(field, 0, 16);
    size_t len = strlen(text);
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        size_t digits = len - 2;
        if (digits > 32)
            digits = 32;
        convert_hex_to_bin(text + 2, (uint32_t)digits, reinterpret_cast<uint8_t *>(field));
        *length = (uint16_t)((len - 2) / 2 > 16 ? 16 : (len - 2) / 2);
        return;
    }
    memcpy(field, text, len < 16 ? len : 16);
    *length = (uint16_t)(len > 16 ? 16 : len);
}

void put_name(const char *text, char field[256], uint16_t *length)
{
    put_text(field, 256, text);
    *length = (uint16_t)strlen(field);
}

uint32_t read(HmNode *group, const char *name, char out[HM_VALUE_SIZE])
{
    memset(out, 0, HM_VALUE_SIZE);
    return internal_get_property(group, name, out);
}

bool equals(const char *a, const char *b)
{
    return strcasecmp(a, b) == 0;
}

// The Authentication values of an options group into the block.
uint32_t fill_authentication(HmNode *authentication, login_option_block *block)
{
    char text[HM_VALUE_SIZE];
    uint32_t rc = read(authentication, "AuthenticationMethod", text);
    if (rc != 0)
        return rc;
    if (equals(text, "One-Way CHAP") || equals(text, "Mutual CHAP"))
        block->authentication = 1;
    if (equals(text, "Mutual CHAP"))
        block->mutual_chap = 1;
    if ((rc = read(authentication, "InitiatorCHAPName", text)) != 0)
        return rc;
    put_name(text, block->initiator_chap_name, &block->initiator_chap_name_length);
    if ((rc = read(authentication, "InitiatorSecret", text)) != 0)
        return rc;
    put_secret(text, block->initiator_secret, &block->initiator_secret_length);
    if ((rc = read(authentication, "TargetCHAPName", text)) != 0)
        return rc;
    put_name(text, block->target_chap_name, &block->target_chap_name_length);
    if ((rc = read(authentication, "TargetSecret", text)) != 0)
        return rc;
    put_secret(text, block->target_secret, &block->target_secret_length);
    return 0;
}

// InitialR2T and ImmediateData into the flag byte.
uint32_t fill_flags(HmNode *options, login_option_block *block)
{
    char text[HM_VALUE_SIZE];
    uint32_t rc = read(options, "InitialR2T", text);
    if (rc != 0)
        return rc;
    block->flags = (uint8_t)(equals(text, "Yes") ? block->flags | 0x01 : block->flags & ~0x01);
    if ((rc = read(options, "ImmediateData", text)) != 0)
        return rc;
    block->flags = (uint8_t)(equals(text, "Yes") ? block->flags | 0x02 : block->flags & ~0x02);
    return 0;
}

HmNode *authentication_of(HmNode *options)
{
    return options != nullptr ? internal_get_node(options, "Authentication", HM_KIND_GROUP) : nullptr;
}

}  // namespace

int32_t convert_hex_to_bin(const char *text, uint32_t length, uint8_t *out)
{
    if (text == nullptr || out == nullptr)
        return -1;
    for (uint32_t i = 0; i + 1 < length; i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        out[i / 2] = (uint8_t)strtoul(pair, nullptr, 16);
    }
    return 0;
}

uint32_t get_login_options(HmNode *options, login_option_block *block, uint32_t mode)
{
    if (mode > 3 || block == nullptr)
        return 1;
    if (mode == 1)
        return 0;
    HmNode *auth = authentication_of(options);
    if (auth == nullptr)
        return 1;
    uint32_t rc = fill_authentication(auth, block);
    if (rc != 0 || mode == 3)
        return rc;
    if ((rc = update_data_digest_details(options, block, 1)) != 0)
        return rc;
    if ((rc = update_header_digest_details(options, block, 1)) != 0)
        return rc;
    return fill_flags(options, block);
}

uint32_t conditional_get_login_options(HmNode *options, login_option_block *block, uint32_t mode, uint32_t header,
                                       uint32_t data, uint32_t chap)
{
    if (mode > 3 || block == nullptr)
        return 1;
    if (mode == 1)
        return 0;
    HmNode *auth = authentication_of(options);
    if (auth == nullptr)
        return 1;
    uint32_t rc = chap == 1 ? fill_authentication(auth, block) : 0;
    if (rc != 0 || mode == 3)
        return rc;
    if ((rc = update_data_digest_details(options, block, data)) != 0)
        return rc;
    if ((rc = update_header_digest_details(options, block, header)) != 0)
        return rc;
    return fill_flags(options, block);
}

uint32_t update_chap_details(HmNode *options, login_option_block *block, uint32_t chap)
{
    HmNode *auth = authentication_of(options);
    if (auth == nullptr || block == nullptr)
        return 1;
    uint32_t rc = chap == 1 ? fill_authentication(auth, block) : 0;
    if (rc != 0)
        return rc;
    return fill_flags(options, block);
}

uint32_t orsa_target_address(const char *ip, uint8_t *kind, uint8_t address[16])
{
    if (ip == nullptr || kind == nullptr || address == nullptr)
        return 1;
    memset(address, 0, 16);
    size_t len = strlen(ip);
    if (len < 16) {
        char text[16];
        memcpy(text, ip, len + 1);
        u32 octets[4];
        orsa_getip(text, octets);
        for (int i = 0; i < 4; i++)
            address[i] = (uint8_t)octets[i];
        *kind = ORSA_ADDRESS_IPV4;
        return 0;
    }
    // The tree keeps the full form; any other IPv6 text is brought to it
    // first, and a text that is none fills no record.
    char text[ORSA_IPV6_TEXT_SIZE];
    if (len >= sizeof text)
        return 1;
    memcpy(text, ip, len + 1);
    if (validateIPv6Address(text) != 0 || StrToU8IPv6(text, address) != 0)
        return 1;
    *kind = ORSA_ADDRESS_IPV6;
    return 0;
}

uint32_t ORSA_update_target_params(target_params *record, HmNode *lhba, HmNode *target, uint16_t qualifier,
                                   const char *ip, const char *port, const char *boot, const char *initiator,
                                   uint32_t eto)
{
    if (record == nullptr || lhba == nullptr || target == nullptr || port == nullptr || ip == nullptr ||
        initiator == nullptr)
        return 1;
    put_text(record->initiator_name, sizeof record->initiator_name, initiator);
    HmNode *names = internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP);
    char text[HM_VALUE_SIZE];
    if (names == nullptr || read(names, "InitiatorAlias", text) != 0)
        return 1;
    put_text(record->initiator_alias, sizeof record->initiator_alias, text);
    if (read(target, "TargetISCSIName", text) != 0)
        return 1;
    put_text(record->target_name, sizeof record->target_name, text);
    if (check_for_isid_existence(qualifier) != 0) {
        orsa_set_status(ORSA_STATUS_ISID_IN_USE);
        return 1;
    }
    record->isid_qualifier = qualifier;
    record->login_flags |= boot != nullptr && equals(boot, "True") ? ORSA_LOGIN_FLAG_BOOT : ORSA_LOGIN_FLAG_PERSISTENT;
    record->login_flags &= ~1u;
    record->eto = eto != 0 ? eto : ORSA_ETO_NOT_GIVEN;
    record->reserved_ffff0 = 0xFFFF;
    record->reserved_ffff1 = 0xFFFF;
    record->tag = ORSA_TARGET_RECORD_TAG;
    if (orsa_target_address(ip, &record->address_kind, record->address) != 0)
        return 1;
    record->port = port_of(port);
    return 0;
}

uint32_t orsa_fill_delete_record(delete_persistent_record *record, const char *target_name, const char *ip,
                                 const char *port, uint16_t qualifier, const char *initiator)
{
    if (record == nullptr || target_name == nullptr || ip == nullptr || port == nullptr || initiator == nullptr)
        return 1;
    memset(record, 0, sizeof *record);
    put_text(record->target_name, sizeof record->target_name, target_name);
    record->tag = ORSA_TARGET_RECORD_TAG;
    if (orsa_target_address(ip, &record->address_kind, record->address) != 0)
        return 1;
    record->port = port_of(port);
    record->isid = qualifier | ORSA_DELETE_ISID_FLAG;
    put_text(record->initiator_name, sizeof record->initiator_name, initiator);
    return 0;
}

uint32_t set_session_login_options(HmNode *group, const negotiated_session_record *record)
{
    if (group == nullptr || record == nullptr)
        return 1;
    auto yes_no = [](bool b) { return b ? "Yes" : "No"; };
    bool r2t = (record->flags & 0x01) != 0, immediate = (record->flags & 0x02) != 0;
    uint32_t rc = 0;
    rc |= set_prop_val(group, "InitialR2T", "%s", yes_no(r2t));
    rc |= set_prop_val(group, "ImmediateData", "%s", yes_no(immediate));
    // Without immediate data and with R2T required no unsolicited data flows.
    if (r2t && !immediate)
        rc |= set_prop_val(group, "FirstBurstLength", "%s", "Irrelevant");
    else
        rc |= set_prop_val(group, "FirstBurstLength", "%u", record->first_burst_length);
    rc |= set_prop_val(group, "MaxConnections", "%u", record->max_connections);
    rc |= set_prop_val(group, "MaxBurstLength", "%u", record->max_burst_length);
    rc |= set_prop_val(group, "MaxOutStandingR2T", "%u", record->max_outstanding_r2t);
    rc |= set_prop_val(group, "DataPDUInOrder", "%s", yes_no((record->flags & 0x04) != 0));
    rc |= set_prop_val(group, "DataSequenceInOrder", "%s", yes_no((record->flags & 0x08) != 0));
    rc |= set_prop_val(group, "DefaultTime2Wait", "%u", record->default_time2wait);
    rc |= set_prop_val(group, "DefaultTime2Retain", "%u", record->default_time2retain);
    rc |= set_prop_val(group, "ErrorRecoveryLevel", "%u", record->error_recovery_level);
    return rc != 0 ? 1 : 0;
}

uint32_t set_connection_login_options(HmNode *group, const negotiated_connection_record *record)
{
    if (group == nullptr || record == nullptr)
        return 1;
    uint32_t rc = 0;
    rc |= set_prop_val(group, "HeaderDigest", "%s", record->header_digest == 1 ? "CRC32C" : "None");
    rc |= set_prop_val(group, "DataDigest", "%s", record->data_digest == 1 ? "CRC32C" : "None");
    // The connection's group shows the negotiated segment length as
    // MaxSendDataSegmentLength and has no window size.
    rc |= set_prop_val(group, "MaxSendDataSegmentLength", "%u", record->max_recv_data_segment_length);
    rc |= set_prop_val(group, "TCPMSS", "%u", record->tcp_mss);
    const char *method = nullptr;
    if (record->authentication == 0)
        method = "None";
    else if (record->authentication == 1 && record->mutual_chap == 0)
        method = "One-Way CHAP";
    else if (record->authentication == 1 && record->mutual_chap == 1)
        method = "Mutual CHAP";
    if (method != nullptr)
        rc |= set_prop_val(group, "AuthenticationMethod", "%s", method);
    return rc != 0 ? 1 : 0;
}

namespace {

// Calls fn with the ISIDQualifier property (or none) of every Session of
// the tree; stops when fn answers true. The qualifier is the session's own
// and never changes while it exists: the cached text is read, no command.
template <typename Fn>
void for_each_session_qualifier(Fn fn)
{
    HmNode *root = hm_get_root(orsa_current_hierarchy);
    for (HmNode *ks = get_first_instance(root, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks))
        for (HmNode *p = get_first_instance(ks, "iSCSIPhysicalHBA"); p != nullptr; p = hm_next_instance(p))
            for (HmNode *l = get_first_instance(p, "LogicalHBA"); l != nullptr; l = hm_next_instance(l))
                for (HmNode *t = get_first_instance(l, "Target"); t != nullptr; t = hm_next_instance(t))
                    for (HmNode *s = get_first_instance(t, "Session"); s != nullptr; s = hm_next_instance(s))
                        if (fn(internal_get_node(s, "ISIDQualifier", HM_KIND_PROPERTY)))
                            return;
}

uint32_t qualifier_of(HmNode *property)
{
    return (uint32_t)strtoul(HM_PROPERTY(property)->value, nullptr, 16) & 0xFFFF;
}

}  // namespace

uint32_t check_for_isid_existence(uint32_t qualifier)
{
    uint32_t found = 0;
    for_each_session_qualifier([&](HmNode *property) {
        if (property == nullptr || property->body == nullptr || qualifier_of(property) == (qualifier & 0xFFFF))
            found = 1;
        return found != 0;
    });
    return found;
}

uint32_t generate_isid_qualifier(void)
{
    // One walk marks every qualifier in use (a session without one takes
    // them all), then the lowest free one is the answer.
    uint8_t used[65536 / 8] = {};
    bool all = false;
    for_each_session_qualifier([&](HmNode *property) {
        if (property == nullptr || property->body == nullptr) {
            all = true;
            return true;
        }
        uint32_t q = qualifier_of(property);
        used[q / 8] = (uint8_t)(used[q / 8] | (1u << (q % 8)));
        return false;
    });
    if (all)
        return 65535;
    for (uint32_t q = 0; q < 65535; q++)
        if ((used[q / 8] & (1u << (q % 8))) == 0)
            return q;
    return 65535;
}
