// Sessions and connections: the adapter's active sessions mirrored as
// Session and Connection groups under their targets (iscsi_targets.h).
#include <cstdlib>

#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_addr.h"
#include "iscsi/iscsi_loginopts.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi/iscsi_util.h"
#include "schema/builders.h"

using namespace iscsi;

namespace {

// What a connection entry's address reads as.
void address_text(uint8_t kind, const uint8_t *address, char out[ORSA_IPV6_TEXT_SIZE])
{
    ipaddr_to_string(address, out, kind);
}

// Reads the active-session list. 0 with the list (free with orsa_dfree) and
// its count, 0 with a null list when the adapter has none to give, else 1
// (the status set).
uint32_t read_session_list(uint32_t port, uint8_t domain, uint8_t phba, uint8_t **list, uint32_t *count)
{
    *list = nullptr;
    *count = 0;
    uint8_t query[12] = {};
    uint16_t size = 0;
    uint32_t rc = ioctl_get_activesessionidbuffersize(at(port), query, domain, phba, &size);
    if (rc != 0) {
        orsa_set_status(31);
        return rc;
    }
    if (size == 0) {
        orsa_set_status(31);
        ISCSI_LOG(ORSA_LOG_ERROR, "session_buffer_size = 0\n");
        return 0;
    }
    uint8_t *buffer = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (buffer == nullptr) {
        orsa_set_status(16);
        return 1;
    }
    memset(buffer, 0, size);
    buffer[0] = 0xC0;
    if (ioctl_get_activesessionid(at(port), buffer, size, domain, phba) != 0 ||
        !orsa_session_list_ok(buffer, size, count)) {
        orsa_dfree(buffer);
        orsa_set_status(84);
        return 1;
    }
    *list = buffer;
    return 0;
}

uint32_t handle_at(const uint8_t *list, uint32_t i)
{
    return orsa_rd32(list + 8 + 4 * i);
}

// The Connection of a session whose handle record names the connection id.
// found false: a Connection without its record was met.
HmNode *connection_by_id(HmNode *session, uint32_t id, bool *complete)
{
    *complete = true;
    for (HmNode *c = get_first_instance(session, "Connection"); c != nullptr; c = hm_next_instance(c)) {
        orsa_connection_handle *h = orsa_connection_record(c);
        if (h == nullptr) {
            *complete = false;
            return nullptr;
        }
        if (h->connection_id == id)
            return c;
    }
    return nullptr;
}

} // namespace

// ---- bounded readers ----

bool orsa_session_record_ok(const uint8_t *reply, uint32_t length)
{
    if (reply == nullptr || length < sizeof(session_info))
        return false;
    return orsa_rd16(reply + offsetof(session_info, connection_count)) <= 1;
}

bool orsa_session_list_ok(const uint8_t *reply, uint32_t length, uint32_t *count)
{
    if (reply == nullptr || length < 8)
        return false;
    uint32_t n = orsa_rd32(reply);
    if (n > (length - 8) / 4)
        return false;
    *count = n;
    return true;
}

const char *orsa_session_status_text(uint32_t state)
{
    if (state & 0x1)
        return "Open";
    if (state & 0x20)
        return "Closed";
    if (state & 0x2)
        return "Login in Progress";
    if (state & 0x100)
        return "Login failed";
    if (state & 0x800)
        return "Logout failed";
    if (state & (0x1000 | 0x40))
        return "In Recovery";
    if (state & 0x2000)
        return "Deleted";
    return "Unknown";
}

orsa_session_handle *orsa_session_record(HmNode *session)
{
    return session != nullptr && session->body != nullptr
               ? static_cast<orsa_session_handle *>(HM_GROUP(session)->nhandle)
               : nullptr;
}

orsa_connection_handle *orsa_connection_record(HmNode *connection)
{
    return connection != nullptr && connection->body != nullptr
               ? static_cast<orsa_connection_handle *>(HM_GROUP(connection)->nhandle)
               : nullptr;
}

void orsa_delete_with_handle(HmNode *group)
{
    if (group == nullptr)
        return;
    if (HM_GROUP(group)->nhandle != nullptr) {
        orsa_dfree(HM_GROUP(group)->nhandle);
        HM_GROUP(group)->nhandle = nullptr;
    }
    delete_node(group);
}

session_info *ORSA_get_session_params(uint32_t session_handle, uint32_t port, uint8_t domain, uint8_t phba)
{
    auto *record = static_cast<session_info *>(orsa_dmalloc(sizeof(session_info)));
    if (record == nullptr) {
        orsa_set_status(16);
        return nullptr;
    }
    memset(record, 0, sizeof *record);
    record->session_handle = session_handle;
    uint32_t rc = ioctl_get_a_session(at(port), record, sizeof *record, domain, phba);
    if (rc == 0 && !orsa_session_record_ok(reinterpret_cast<uint8_t *>(record), sizeof *record)) {
        // The record holds one connection entry; a count above it is a
        // malformed reply, never a reason to read past the record.
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: session record names %u connections\n", __func__,
                  (unsigned)record->connection_count);
        rc = 1;
    }
    if (rc != 0) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:ioctl_get_a_session failed with status = %d\n", __func__, (int)rc);
        orsa_dfree(record);
        orsa_set_status(85);
        return nullptr;
    }
    record->target_name[sizeof record->target_name - 1] = '\0';
    record->initiator_name[sizeof record->initiator_name - 1] = '\0';
    return record;
}

HmNode *setup_session(HmNode *target, uint32_t port, uint32_t session_handle, const char * /*persistent*/,
                      const negotiated_session_record *values, HmNode *login, HmValueSlot *params,
                      const char *portal_group_tag)
{
    if (target == nullptr || internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP) == nullptr)
        return nullptr;
    HmNode *session = initialize_Session(target, login != nullptr ? target : nullptr, login, params);
    if (session == nullptr)
        return nullptr;
    if (internal_get_node(session, "SessionLoginOptions", HM_KIND_GROUP) == nullptr) {
        delete_node(session);
        return nullptr;
    }
    auto *h = static_cast<orsa_session_handle *>(orsa_dmalloc(sizeof(orsa_session_handle)));
    if (h == nullptr) {
        orsa_set_status(16);
        delete_node(session);
        return nullptr;
    }
    h->port = port;
    h->session_handle = session_handle;
    h->zero = 0;
    h->portal_group_tag = portal_group_tag != nullptr ? (uint32_t)strtoul(portal_group_tag, nullptr, 10) : 0;
    HM_GROUP(session)->nhandle = h;
    if (values != nullptr)
        set_session_login_options(internal_get_node(session, "SessionNegotiatedLoginOptions", HM_KIND_GROUP), values);
    return session;
}

HmNode *setup_connection(HmNode *session, uint32_t connection_id, const negotiated_connection_record *values)
{
    HmNode *connection = initialize_Connection(session, nullptr, nullptr, nullptr);
    if (connection == nullptr)
        return nullptr;
    auto *h = static_cast<orsa_connection_handle *>(orsa_dmalloc(sizeof(orsa_connection_handle)));
    if (h == nullptr) {
        orsa_set_status(16);
        delete_node(connection);
        return nullptr;
    }
    memset(h, 0, sizeof *h);
    h->connection_id = connection_id;
    HM_GROUP(connection)->nhandle = h;
    if (values != nullptr)
        set_connection_login_options(internal_get_node(connection, "ConnectionNegotiatedLoginOptions", HM_KIND_GROUP),
                                     values);
    return connection;
}

uint32_t ORSA_update_connection_props(const session_info *record, HmNode *session)
{
    if (record == nullptr || session == nullptr)
        return 1;
    for (uint32_t i = 0; i < record->connection_count && i < 1; i++) {
        const session_connection_entry &e = record->connections[i];
        bool complete = true;
        HmNode *c = connection_by_id(session, e.connection_id, &complete);
        if (c == nullptr) {
            ISCSI_LOG(ORSA_LOG_ERROR, "%s:Invalid connection node.\n", __func__);
            return 1;
        }
        char src[ORSA_IPV6_TEXT_SIZE], dst[ORSA_IPV6_TEXT_SIZE];
        address_text(e.source_kind, e.source_address, src);
        address_text(e.destination_kind, e.destination_address, dst);
        uint32_t rc = 0;
        rc |= set_prop_val(c, "iSCSIConnectionID", "%u", (unsigned)e.cid);
        rc |= set_prop_val(c, "Status", "%s", (e.flags & 1) ? "Logged-in" : "Connection closed");
        rc |= set_prop_val(c, "SourcePortNumber", "%u", (unsigned)e.source_port);
        rc |= set_prop_val(c, "DestinationPortNumber", "%u", (unsigned)e.destination_port);
        rc |= set_prop_val(c, "SourceIPAddress", "%s", src);
        rc |= set_prop_val(c, "DestinationIPAddress", "%s", dst);
        if (e.flags & 4) {
            char red[ORSA_IPV6_TEXT_SIZE];
            address_text(e.redirected_kind, e.redirected_address, red);
            rc |= set_prop_val(c, "RedirectedDestinationPort", "%u", (unsigned)e.redirected_port);
            rc |= set_prop_val(c, "RedirectedDestinationIPAddress", "%s", red);
        } else {
            rc |= set_prop_val(c, "RedirectedDestinationPort", "%s", "N/A");
            rc |= set_prop_val(c, "RedirectedDestinationIPAddress", "%s", "N/A");
        }
        if (rc != 0) {
            ISCSI_LOG(ORSA_LOG_ERROR, "%s:Failed to set connection related properties.\n", __func__);
            return 1;
        }
    }
    return 0;
}

uint32_t get_session_attribs(uint32_t port, uint8_t domain, uint8_t phba, HmNode *session)
{
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr)
        return 1;
    if (OPEN_ISCSI_DRIVER_LOADED != 0) {
        if (strcasecmp(cached(session, "iSCSIBoot"), "True") != 0 ||
            strcasecmp(cached(session, "SessionStatus"), "Open") == 0) {
            set_prop_val(session, "SessionTSIH", "%s", "N/A");
            set_prop_val(session, "Persistent", "%s", "True");
            return 0;
        }
    }
    session_info *r = ORSA_get_session_params(h->session_handle, port, domain, phba);
    if (r == nullptr)
        return 1;
    uint32_t rc = ORSA_update_connection_props(r, session);
    rc |= set_prop_val(session, "SessionTSIH", "%u", (unsigned)r->tsih);
    rc |= set_prop_val(session, "ISIDQualifier", "%02x%02x", r->isid[4], r->isid[5]);
    rc |= set_prop_val(session, "ISID", "%02x%02x%02x%02x%02x%02x", r->isid[0], r->isid[1], r->isid[2], r->isid[3],
                       r->isid[4], r->isid[5]);
    rc |= set_prop_val(session, "SessionStatus", "%s", orsa_session_status_text(r->state));
    rc |= set_prop_val(session, "SessionInitiatorName", "%s", r->initiator_name);
    if (domain == 0)
        rc |=
            set_prop_val(session, "Persistent", "%s", (r->flags & ORSA_SESSION_FLAG_NOT_PERSISTENT) ? "False" : "True");
    orsa_dfree(r);
    return rc != 0 ? 1 : 0;
}

uint32_t get_all_sessions(HmNode *lhba, uint32_t port, uint8_t domain, uint8_t phba, HmNode *target, HmNode *login,
                          HmValueSlot *params)
{
    uint8_t *list = nullptr;
    uint32_t count = 0;
    uint32_t rc = read_session_list(port, domain, phba, &list, &count);
    if (rc != 0 || list == nullptr)
        return rc;
    if (count == 0 && target != nullptr) {
        while (HmNode *s = get_first_instance(target, "Session")) {
            if (HmNode *c = get_first_instance(s, "Connection"))
                orsa_delete_with_handle(c);
            orsa_delete_with_handle(s);
        }
        orsa_dfree(list);
        return 0;
    }
    char target_name[HM_VALUE_SIZE] = "";
    if (target != nullptr && !read_prop(target, "TargetISCSIName", target_name)) {
        orsa_dfree(list);
        return 1;
    }
    HmValueSlot local[HM_MAX_PARAMS];
    if (params == nullptr)
        params = local;
    rc = 0;
    for (uint32_t i = 0; i < count && rc == 0; i++) {
        session_info *r = ORSA_get_session_params(handle_at(list, i), port, domain, phba);
        if (r == nullptr) {
            rc = 1;
            break;
        }
        HmNode *t = target;
        if (t != nullptr && strcasecmp(r->target_name, target_name) != 0) {
            orsa_dfree(r);
            continue;
        }
        if (t == nullptr) {
            t = find_target(lhba, r->target_name);
            if (t == nullptr) {
                orsa_set_status(19);
                orsa_dfree(r);
                rc = 1;
                break;
            }
        }
        for (uint32_t k = 0; k < r->connection_count && k < 1 && rc == 0; k++) {
            const session_connection_entry &e = r->connections[k];
            clear_params(params);
            char dst[ORSA_IPV6_TEXT_SIZE];
            address_text(e.destination_kind, e.destination_address, dst);
            orsa_strlcpy(params[0], dst, HM_VALUE_SIZE);
            snprintf(params[1], HM_VALUE_SIZE, "%u", (unsigned)e.destination_port);
            orsa_strlcpy(params[2], r->initiator_name, HM_VALUE_SIZE);
            snprintf(params[3], HM_VALUE_SIZE, "%02x%02x", r->isid[4], r->isid[5]);
            HmNode *portal = find_target_portal(t, params[0], params[1]);
            char tag[HM_VALUE_SIZE] = "";
            if (portal == nullptr || !read_prop(portal, "PortalGroupTag", tag)) {
                ISCSI_LOG(ORSA_LOG_ERROR, "%s: no portal %s:%s for the session\n", __func__, params[0], params[1]);
                rc = 1;
                break;
            }
            uint32_t found = 0;
            HmNode *session = nullptr, *connection = nullptr;
            if (ORSA_check_for_duplicate_session(t, port, domain, phba, params, &found, &session, &connection) != 0) {
                rc = 1;
                break;
            }
            if (found) {
                if (connection != nullptr)
                    set_connection_login_options(
                        internal_get_node(connection, "ConnectionNegotiatedLoginOptions", HM_KIND_GROUP), &e.login);
                continue;
            }
            bool open = (r->state & 1) != 0;
            session = setup_session(t, port, r->session_handle, "True", &r->session, login, nullptr, tag);
            if (session == nullptr) {
                rc = 1;
                break;
            }
            uint32_t w = 0;
            if (k == 0 && open)
                w |= setup_initiator_target_loginopts(t, &e.login);
            w |= set_prop_val(session, "iSCSIBoot", "%s", (r->flags & ORSA_SESSION_FLAG_BOOT) ? "True" : "False");
            if (domain == 0)
                w |= set_prop_val(session, "Persistent", "%s",
                                  (r->flags & ORSA_SESSION_FLAG_NOT_PERSISTENT) ? "False" : "True");
            w |= setup_initiator_target_loginopts(session, &e.login);
            connection = setup_connection(session, e.connection_id, &e.login);
            if (connection == nullptr) {
                rc = 1;
                break;
            }
            w |= set_prop_val(session, "ISIDQualifier", "%s", params[3]);
            w |= set_prop_val(session, "SessionInitiatorName", "%s", r->initiator_name);
            w |= set_prop_val(connection, "DestinationIPAddress", "%s", params[0]);
            w |= set_prop_val(connection, "DestinationPortNumber", "%s", params[1]);
            w |= set_prop_val(session, "SessionStatus", "%s", orsa_session_status_text(r->state));
            if (w != 0)
                rc = 1;
        }
        orsa_dfree(r);
    }
    orsa_dfree(list);
    return rc;
}

uint32_t handle_session_properties(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 0;
    HmNode *session = property->parent;
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr)
        return orsa_answer(property, value, 1);
    Where w = where_of(session);
    return orsa_answer(property, value, get_session_attribs(h->port, w.domain, w.phba, session));
}

uint32_t handle_connection_properties(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 0;
    HmNode *session = property->parent->parent;
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr)
        return orsa_answer(property, value, 1);
    Where w = where_of(session);
    return orsa_answer(property, value, get_session_attribs(h->port, w.domain, w.phba, session));
}

uint32_t group_Session(HmNode *session)
{
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr)
        return 1;
    Where w = where_of(session);
    return get_session_attribs(h->port, w.domain, w.phba, session);
}

uint32_t ORSA_cleanup_sessions(HmNode *target, HmNode *session, uint8_t domain, uint8_t phba)
{
    if (target == nullptr || session == nullptr)
        return 1;
    if (HmNode *c = get_first_instance(session, "Connection"))
        orsa_delete_with_handle(c);
    orsa_delete_with_handle(session);
    HmValueSlot params[HM_MAX_PARAMS] = {};
    char out[HM_VALUE_SIZE] = "";
    get_all_luns(target, domain, phba, target, internal_get_node(target, "ReScanLUNS", HM_KIND_ACTION), params, out);
    return 0;
}

uint32_t ORSA_get_tgt_persistent_val(HmNode *node, const char *target_name, char *out)
{
    if (node == nullptr || target_name == nullptr || out == nullptr)
        return 1;
    Where w = where_of(node);
    const uint32_t size = 64000;
    uint8_t *list = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (list == nullptr) {
        orsa_set_status(16);
        return 1;
    }
    memset(list, 0, size);
    list[0] = 0xC0;
    uint32_t count = 0;
    if (ioctl_get_activesessionid(at(w.port), list, size, w.domain, w.phba) != 0 ||
        !orsa_session_list_ok(list, size, &count)) {
        orsa_dfree(list);
        return 1;
    }
    uint32_t rc = 0;
    for (uint32_t i = 0; i < count; i++) {
        session_info *r = ORSA_get_session_params(handle_at(list, i), w.port, w.domain, w.phba);
        if (r == nullptr) {
            rc = 1;
            break;
        }
        bool match = strcasecmp(r->target_name, target_name) == 0;
        if (match)
            orsa_strlcpy(out, (r->flags & ORSA_SESSION_FLAG_NOT_PERSISTENT) ? "False" : "True", 35);
        orsa_dfree(r);
        if (match)
            break;
    }
    orsa_dfree(list);
    return rc;
}

uint32_t handle_TargetAlias(HmNode *property, char *value, uint32_t /*mode*/)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *target = property->parent;
    // The alias comes from the first session's statistics group, whose
    // reader belongs to the statistics code; until it is bound that group's
    // SessionTargetAlias is read from its cache (empty unless the
    // statistics have filled it).
    const char *alias = "";
    if (HmNode *s = get_first_instance(target, "Session")) {
        HmNode *stats = internal_get_node(s, "iSCSISessionStatistics", HM_KIND_GROUP);
        alias = cached(stats, "SessionTargetAlias");
    }
    char copy[HM_VALUE_SIZE];
    orsa_strlcpy(copy, alias, sizeof copy);
    SET_CACHE_PROP_VAL(property, "%s", copy);
    return orsa_answer(property, value, 0);
}
