// What the firmware reports of a logged-in target: Session<n> below a
// Target and the one Connection0 below a session.
#include "schema/builders.h"
#include "schema/kind_table.h"
#include "schema/kind_iscsi_texts.h"

#define CACHED(name, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, allowed, "handle_internal_property", desc)
#define SESSION_STAT(name, type, mn, mx, def, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, "", "handle_SsnAttr_properties", desc)
#define CONNECTION_PROP(name, type, mn, mx, def, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, "", "handle_connection_properties", desc)

#define SESSION_AUTHENTICATION_METHOD_TEXT \
    "Use this property to specify an authentication method using the set command. Valid CHAP values are None, Mutual CHAP, and One-Way CHAP. None is the default."

static schema::SchemaRow session_rows[] = {
    SCHEMA_GROUP("SessionLoginOptions", "This group consists of the set of login options used to log into the target.", nullptr),
        CACHED("InitialR2T", T_LIST, 0, 3, "Yes", "Yes,No", "The valid values for this property are Yes or No. The default is Yes."),
        CACHED("ImmediateData", T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_IMMEDIATE_DATA_TEXT),
        CACHED("HeaderDigest", T_LIST, 4, 6, "None", "None,CRC32C", "The valid values for this property are CRC32C or None. The default is None."),
        CACHED("DataDigest", T_LIST, 4, 6, "None", "None,CRC32C", "The valid values for this property are CRC32C or None. The default is None."),
        SCHEMA_GROUP("Authentication", "This group consists of the set of connection authentication related login options used to create an iSCSI session with the target.", nullptr),
            CACHED("AuthenticationMethod", T_LIST, 4, 12, "None", "None,Mutual CHAP,One-Way CHAP", SESSION_AUTHENTICATION_METHOD_TEXT),
            CACHED("InitiatorCHAPName", T_STRING, 1, 256, "", "",
                   "This property is the initiator's CHAP name sent to the target. It is optional and needed only for Mutual CHAP."),
            CACHED("InitiatorSecret", T_STRING, 12, 34, "", "",
                   "This property is the initiator's CHAP secret. It is needed only for Mutual CHAP and is shown as plain text while keyed and displayed. It is either a string of 12 to 16 bytes (one character per byte) or a hex form of 12 to 16 bytes (two characters per byte, not counting the leading 0x)."),
            CACHED("TargetCHAPName", T_STRING, 1, 256, "", "",
                   "This property is the target's CHAP name. It is required for One-Way and Mutual CHAP."),
            CACHED("TargetSecret", T_STRING, 12, 34, "", "",
                   "This property is the target's CHAP secret. It is required for One-Way and Mutual CHAP and is shown as plain text while keyed and displayed. It is either a string of 12 to 16 bytes (one character per byte) or a hex form of 12 to 16 bytes (two characters per byte, not counting the leading 0x)."),
        SCHEMA_END(),
    SCHEMA_END(),

    // MaxOutstandingR2T keeps its stored bounds 1..0 and FirstBurstLength
    // stays a text: clients read both as they always have, and neither
    // can be set.
    SCHEMA_GROUP("SessionNegotiatedLoginOptions", "This group stores the negotiated login options when the session was created.", nullptr),
        CACHED("InitialR2T", T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_INITIAL_R2T_TEXT),
        CACHED("ImmediateData", T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_IMMEDIATE_DATA_TEXT),
        CACHED("MaxConnections", T_INTEGER, 1, 1, "1", "",
               "This property indicates the largest number of connections allowed within one session. The default is 1."),
        CACHED("MaxOutstandingR2T", T_INTEGER, 1, 0, "1", "",
               "This property indicates the largest number of outstanding R2Ts per task, each up to MaxBurstLength bytes. The default is 1."),
        CACHED("FirstBurstLength", T_STRING, 0, 10, "8192", "",
               "This property indicates the most unsolicited data in bytes the initiator may send during one command. The default is 8192 bytes. It is irrelevant when InitialR2T is Yes and ImmediateData is No."),
        CACHED("MaxBurstLength", T_INTEGER, 0, 262144, "262144", "",
               "This property indicates the most solicited or unsolicited data in one burst; more must be solicited by the target. It should be a multiple of the page size. The default is 262144 bytes."),
        CACHED("DefaultTime2Wait", T_INTEGER, 0, 2, "2", "",
               "This property indicates the least time in seconds before the initiator reconnects or reassigns a dropped connection. It is negotiated."),
        CACHED("DefaultTime2Retain", T_INTEGER, 0, 20, "20", "",
               "This property indicates the most time in seconds to reassign a connection after DefaultTime2Wait. It is negotiated."),
        CACHED("ErrorRecoveryLevel", T_INTEGER, 0, 0, "0", "",
               "This property indicates the operational error recovery level: 0 session restart only, 1 reissue of commands, data or status, 2 connection failure recovery. The default is 0."),
        CACHED("DataPDUInOrder", T_INTEGER, 0, 1, "1", "", ISCSI_DATA_PDU_IN_ORDER_TEXT),
        CACHED("DataSequenceInOrder", T_INTEGER, 0, 1, "1", "", ISCSI_DATA_SEQUENCE_IN_ORDER_TEXT),
    SCHEMA_END(),

    SCHEMA_GROUP("iSCSISessionStatistics", "This group instance corresponds to the SNMP properties under this particular session.", nullptr),
        SESSION_STAT("SessionDirection", T_INTEGER, 1, 2, "1",
                     "This property indicates the direction of the session: 1 InboundSession, from an external initiator to a target within this iSCSI instance; 2 OutboundSession, from an initiator within this iSCSI instance to an external target."),
        SESSION_STAT("CmdPdus", T_INTEGER, 1, 65536, "0",
                     "This property indicates the count of Command PDUs transferred on this session."),
        SESSION_STAT("RspPdus", T_INTEGER, 1, 65536, "0",
                     "This property indicates the count of Response PDUs transferred on this session."),
        SESSION_STAT("TxDataOctetsHigh", T_INTEGER, 1, 2147483647, "0",
                     "This property indicates the count of data octets that were transmitted by the local iSCSI node on this session."),
        SESSION_STAT("RxDataOctetsHigh", T_INTEGER, 1, 2147483647, "0",
                     "This property indicates the count of data octets that were received by the local iSCSI node on this session."),
        SESSION_STAT("DigestErrors", T_INTEGER, 0, 65536, "0",
                     "This property indicates the count of PDUs which were received on the session and contained header or data digest errors."),
        SESSION_STAT("CxnTimeoutErrors", T_INTEGER, 0, 65536, "0",
                     "This property indicates the count of connections within this session which have been terminated due to a timeout."),
        SESSION_STAT("SessionTargetAlias", T_STRING, 0, 30, "",
                     "This property indicates the alias of the target of this session."),
    SCHEMA_END(),

    SCHEMA_PROP("SessionTSIH", RO, T_STRING, 0, 0, "0", "", "handle_session_properties",
                "This property displays the target session identifying handle (TSIH), a tag the target generates when the session is established. 0 means no session is assigned."),
    SCHEMA_PROP("ISIDQualifier", RO, T_INTEGER, 0, 0, "0", "", "handle_session_properties",
                "This property displays the session ISIDQualifier assigned to the session. This needs to be unique for every session."),
    SCHEMA_PROP("ISID", RO, T_INTEGER, 0, 0, "0", "", "handle_internal_property",
                "This property displays the session ISID assigned to the session. This needs to be unique for every session."),
    SCHEMA_PROP("SessionInitiatorName", RO, T_STRING, 1, 223, "iqn.kd", "", "handle_session_properties",
                "This property displays the iSCSI name configured for the session."),
    SCHEMA_PROP("SessionStatus", RO, T_STRING, 0, 32, "Unknown", "", "handle_session_properties",
                "This property indicates the status of the session. Valid values are Open,Closed,Login in Progress,Login Failed,In Recovery,Deleted and Unknown."),
    SCHEMA_PROP("iSCSIBoot", RW, T_LIST, 4, 5, "False", "False,True", "handle_boot_session",
                "This property marks the session for use as a boot session when True, or not when False. A boot session cannot be logged out."),
    SCHEMA_PROP("Persistent", RO, T_LIST, 4, 5, "False", "False,True", "handle_session_properties",
                "This property indicates whether the connection is restored automatically after a reboot (True) or not (False)."),
};

static schema::SchemaRow connection_rows[] = {
    SCHEMA_GROUP("ConnectionNegotiatedLoginOptions", "This group consists of the negotiated connection login options.", nullptr),
        CACHED("AuthenticationMethod", T_LIST, 4, 12, "None", "None,Mutual CHAP,One-Way CHAP", SESSION_AUTHENTICATION_METHOD_TEXT),
        CACHED("HeaderDigest", T_LIST, 4, 6, "None", "None,CRC32C",
               "This property indicates whether the PDU header segments are protected by a CRC32C checksum. The default is None."),
        CACHED("DataDigest", T_LIST, 4, 6, "None", "None,CRC32C",
               "This property indicates whether the PDU data segment is protected by a CRC32C checksum. The default is None."),
        CACHED("MaxSendDataSegmentLength", T_INTEGER, 512, 16384, "16384", "",
               "This parameter reports the maximum data segment length in bytes a target can receive in an iSCSI PDU."),
        CACHED("TCPMSS", T_INTEGER, 1436, 8248, "1460", "",
               "This property indicates the TCP maximum segment size of the connection: with jumbo frames enabled 8224 to 8248 bytes, the default being 8248; without jumbo frames 1436 to 1460 bytes."),
    SCHEMA_END(),
    CONNECTION_PROP("iSCSIConnectionID", T_INTEGER, 1, 32, "1",
                    "This property indicates the iSCSI Connection ID assigned to the connection."),
    CONNECTION_PROP("Status", T_STRING, 0, 32, "Connection Status Unknown",
                    "This property indicates the status of the connection."),
    CONNECTION_PROP("SourcePortNumber", T_INTEGER, 1024, 65535, "1024",
                    "This property specifies the source port number for the connection."),
    CONNECTION_PROP("DestinationPortNumber", T_INTEGER, 1024, 65535, "1024",
                    "This property specifies the destination port number for the connection."),
    CONNECTION_PROP("SourceIPAddress", T_IPV4, 0, 0, "0.0.0.0",
                    "This property specifies the source IP address for the connection."),
    CONNECTION_PROP("DestinationIPAddress", T_IPV4, 0, 0, "0.0.0.0",
                    "This property specifies the destination IP address for the connection."),
    CONNECTION_PROP("RedirectedDestinationPort", T_STRING, 0, 0, "0",
                    "This property indicates the Redirected target TCP port number."),
    CONNECTION_PROP("RedirectedDestinationIPAddress", T_STRING, 0, 0, "0",
                    "This property indicates the Redirected target IP address."),
};

// Sessions: one slice per target of every logical HBA. Connections: one
// per session of all of those.
SCHEMA_KIND(kind_Session, "initialize_Session", "Session",
            "This group instance corresponds to an active session with the target.",
            64, 16 * 8 * 256, "group_Session", session_rows);
SCHEMA_KIND(kind_Connection, "initialize_Connection", "Connection",
            "This group instance corresponds to a connection for a session. A session can have a maximum of four connections.",
            1, 16 * 8 * 256 * 64, nullptr, connection_rows);

HmNode *initialize_Session(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Session, parent, key_a, key_b, keys);
}

HmNode *initialize_Connection(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Connection, parent, key_a, key_b, keys);
}
