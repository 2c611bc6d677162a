// The iSCSI initiator of one port: LogicalHBA0 below every iSCSIPhysicalHBA,
// with its name, login options, CHAP, QoS, MIB statistics and discovery.
#include "schema/builders.h"
#include "schema/kind_table.h"
#include "schema/kind_iscsi_texts.h"

#define PATH(x) ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_##x

SCHEMA_DESCRIPTOR(PATH(InitiatorLoginOptions_Authentication_ConfigureCHAP), "do_ConfigureCHAP", 6, ISCSI_CHAP_PARAMS);
SCHEMA_DESCRIPTOR(PATH(InitiatorLoginOptions_Authentication_DeleteCHAP), "do_DeleteCHAP", 0);

SCHEMA_DESCRIPTOR(PATH(Discovery_AddSendTargetPortal), "do_AddSendTargetPortal", 2,
    SCHEMA_PARAM(1, "IPAddress", T_IPV4, 0, 0, "",
                 "This parameter specifies the IP address of the SendTarget portal."),
    SCHEMA_PARAM(1, "PortNumber", T_INTEGER, 1024, 65535, "",
                 "This parameter specifies the port number of the SendTarget portal."));
SCHEMA_DESCRIPTOR(PATH(Discovery_DeleteSendTargetPortal), "do_DeleteSendTargetPortal", 1,
    SCHEMA_PARAM(1, "InstanceNumber", T_INTEGER, 0, 127, "", ISCSI_INSTANCE_NUMBER_TEXT));
SCHEMA_DESCRIPTOR(PATH(Discovery_RefreshAvailableTargets), "do_RefreshAvailableTargets", 0);

SCHEMA_DESCRIPTOR(PATH(AddTarget), "do_AddTarget", 4,
    SCHEMA_PARAM(1, "TargetName", T_STRING, 6, 223, "",
                 "This parameter specifies the fully qualified iSCSI name of the target. Adding a target does not log in to it; an explicit login is needed."),
    SCHEMA_PARAM(1, "IPAddress", T_IPV4, 0, 0, "",
                 "This parameter specifies the IP address of the target."),
    SCHEMA_PARAM(0, "PortNumber", T_INTEGER, 1024, 65535, "",
                 "This parameter specifies the port number of the target. The default is 3260."),
    SCHEMA_PARAM(0, "BootTarget", T_LIST, 4, 5, "True,False",
                 "This parameter makes the target a boot target when True."));
SCHEMA_DESCRIPTOR(PATH(DeleteTarget), "do_DeleteTarget", 1,
    SCHEMA_PARAM(1, "InstanceNumber", T_INTEGER, 0, 256, "", ISCSI_INSTANCE_NUMBER_TEXT));

#define LOGIN_OPTION(name, acc, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, acc, type, mn, mx, def, allowed, "handle_initiator_loginoptions", desc)
#define CHAP_PROP(name, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, allowed, "handle_authentication_initiator_loginoptions", desc)
#define DEFAULT_OPTION(name, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, allowed, "handle_internal_property", desc)

static schema::SchemaRow logical_hba_rows[] = {
    SCHEMA_PROP("Enabled", RW, T_LIST, 4, 5, "False", "False,True", "handle_iSCSIPhysicalHBA_LogicalHBA_Enabled",
                "This property indicates whether iSCSI is enabled on this port: True when enabled, False when disabled."),
    SCHEMA_PROP("IfName", RO, T_STRING, 1, 32, "vmhba", "", "handle_internal_property",
                "This property displays the Interface name string for iSCSI."),

    SCHEMA_GROUP("InitiatoriSCSIName", "This group contains iSCSI name configuration details for the initiator node.", nullptr),
        SCHEMA_PROP("InitiatoriSCSIName", RW, T_STRING, 1, 223, "iqn.kd", "", "handle_name_params",
                    "This property specifies the iSCSI name (IQN) of the initiator node, by which targets identify the initiator. Use the set command to change it, for example an iqn-form name ending in :init1."),
        SCHEMA_PROP("InitiatorAlias", RW, T_STRING, 0, 31, "kd", "", "handle_name_params",
                    "This property specifies a user-friendly alias of the initiator's iSCSI name. Use the set command to change it, for example init1."),
    SCHEMA_END(),

    SCHEMA_GROUP("InitiatorDefaultLoginOptions", "This group contains the default login options for the iSCSI initiator node.", nullptr),
        DEFAULT_OPTION("InitialR2T", T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_INITIAL_R2T_TEXT),
        DEFAULT_OPTION("ImmediateData", T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_IMMEDIATE_DATA_TEXT),
        DEFAULT_OPTION("MaxConnections", T_INTEGER, 1, 1, "1", "",
                       "This property specifies the maximum number of connections within one session. The default is 1."),
        DEFAULT_OPTION("MaxOutstandingR2T", T_INTEGER, 1, 255, "1", "",
                       "This property specifies the maximum number of outstanding R2Ts per task within a session, each up to MaxBurstLength bytes. The default is 1."),
        DEFAULT_OPTION("FirstBurstLength", T_INTEGER, 0, 8192, "8192", "",
                       "This property specifies the maximum amount of unsolicited data, in bytes, that the initiator may send during one iSCSI command. The default is 8192."),
        DEFAULT_OPTION("MaxBurstLength", T_INTEGER, 0, 262144, "262144", "",
                       "This property specifies the maximum amount of data, solicited or not, in one burst; more must be solicited by the target. It is a multiple of PAGESIZE. The default is 262144."),
        DEFAULT_OPTION("DefaultTime2Wait", T_INTEGER, 0, 2, "2", "",
                       "This property specifies the minimum time in seconds to wait before reconnecting or reassigning a connection dropped by an unexpected termination or reset. It is negotiated."),
        DEFAULT_OPTION("DefaultTime2Retain", T_INTEGER, 0, 20, "20", "",
                       "This property specifies the maximum time in seconds to reassign a connection after DefaultTime2Wait. It is negotiated."),
        DEFAULT_OPTION("ErrorRecoveryLevel", T_INTEGER, 0, 255, "0", "",
                       "This property specifies the error recovery level: 0 recovery by session restart only, 1 by reissuing commands, data or status, 2 connection failure recovery. The default is 0."),
        DEFAULT_OPTION("DataPDUInOrder", T_INTEGER, 0, 1, "1", "", ISCSI_DATA_PDU_IN_ORDER_TEXT),
        DEFAULT_OPTION("DataSequenceInOrder", T_INTEGER, 0, 1, "1", "", ISCSI_DATA_SEQUENCE_IN_ORDER_TEXT),
        DEFAULT_OPTION("HeaderDigest", T_LIST, 4, 6, "None", "None,CRC32C", ISCSI_HEADER_DIGEST_TEXT),
        DEFAULT_OPTION("DataDigest", T_LIST, 4, 6, "None", "None,CRC32C", ISCSI_DATA_DIGEST_TEXT),
        DEFAULT_OPTION("MaxRecvDataSegmentLength", T_INTEGER, 0, 65536, "65536", "",
                       "This property specifies the maximum data segment length in bytes that an initiator or target can receive in one PDU. It is a multiple of PAGESIZE. The default is 65536."),
    SCHEMA_END(),

    SCHEMA_GROUP("InitiatorLoginOptions", "This group contains the configured login options for the iSCSI initiator node.", nullptr),
        LOGIN_OPTION("InitialR2T", RO, T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_INITIAL_R2T_TEXT),
        LOGIN_OPTION("ImmediateData", RW, T_LIST, 0, 3, "Yes", "Yes,No", ISCSI_IMMEDIATE_DATA_TEXT),
        LOGIN_OPTION("HeaderDigest", RW, T_LIST, 4, 6, "None", "None,CRC32C", ISCSI_HEADER_DIGEST_TEXT),
        LOGIN_OPTION("DataDigest", RW, T_LIST, 4, 6, "None", "None,CRC32C", ISCSI_DATA_DIGEST_TEXT),
        LOGIN_OPTION("HeaderParam", RW, T_LIST, 9, 10, "Prohibited", "Prohibited,Preferred", ISCSI_HEADER_PARAM_TEXT),
        LOGIN_OPTION("DataParam", RW, T_LIST, 9, 10, "Prohibited", "Prohibited,Preferred", ISCSI_DATA_PARAM_TEXT),
        SCHEMA_GROUP("Authentication", "This group contains the configured connection authentication related login options for the iSCSI initiator node.", nullptr),
            CHAP_PROP("AuthenticationMethod", T_LIST, 4, 12, "None", "None,Mutual CHAP,One-Way CHAP",
                      "This property indicates an authentication method. Valid CHAP values are None, Mutual CHAP, and One-Way CHAP. None is the default."),
            CHAP_PROP("InitiatorCHAPName", T_STRING, 1, 256, "", "", ISCSI_INITIATOR_CHAP_NAME_TEXT),
            CHAP_PROP("InitiatorSecret", T_STRING, 12, 34, "", "", ISCSI_INITIATOR_SECRET_TEXT),
            CHAP_PROP("TargetCHAPName", T_STRING, 1, 256, "", "", ISCSI_TARGET_CHAP_NAME_TEXT),
            CHAP_PROP("TargetSecret", T_STRING, 12, 34, "", "", ISCSI_TARGET_SECRET_TEXT),
            CHAP_PROP("CHAPParam", T_LIST, 4, 11, "Prohibited", "Prohibited,Discouraged,Preferred,Required", ISCSI_CHAP_PARAM_TEXT),
            SCHEMA_ACTION("ConfigureCHAP", "This command enables CHAP for iSCSI initiator.",
                          PATH(InitiatorLoginOptions_Authentication_ConfigureCHAP_spec)),
            SCHEMA_ACTION("DeleteCHAP", "This command deletes CHAP for iSCSI initiator.",
                          PATH(InitiatorLoginOptions_Authentication_DeleteCHAP_spec)),
        SCHEMA_END(),
    SCHEMA_END(),

    SCHEMA_GROUP("iSCSIQoS", "This group contains the properties of QoS.", nullptr),
        SCHEMA_PROP("MinBitsPerSecond", RO, T_INTEGER, 0, 1000, "0", "", "handle_iscsi_bandwidth_softcap",
                    "This property specifies the minimum iSCSI throughput of the domain in units of 100 Mbit. 0 means no QoS is set and all the bandwidth is available."),
        SCHEMA_PROP("MaxBitsPerSecond", RO, T_INTEGER, 0, 1000, "0", "", "handle_iscsi_bandwidth_softcap",
                    "This property specifies the maximum iSCSI throughput of the domain in units of 100 Mbit. 0 means no QoS is set."),
        SCHEMA_PROP("MaxBytesPerSecond", RW, T_INTEGER, 0, 1280, "0", "", "handle_MaxBytesPerSecond",
                    "This property specifies the maximum iSCSI throughput of the domain in units of 1 MBps. 0 means no QoS is set."),
        SCHEMA_PROP("MaxIosPerSecond", RW, T_INTEGER, 0, 250, "0", "", "handle_MaxIosPerSecond",
                    "This property specifies the maximum iSCSI I/Os per second of the domain in units of 1024. 0 means no QoS is set."),
    SCHEMA_END(),

    // The MIB counters with bounds 4..0 are kept as clients have always
    // seen them: read-only, so no set ever meets the inverted bounds.
    SCHEMA_GROUP("iSCSIStatistics", "This group contains all the SNMP properties.", nullptr),
        SCHEMA_PROP("NodeRoles", RO, T_STRING, 1, 255, "1", "", "handle_NodeAttr_properties",
                    "This property indicates the node role for this iSCSI initiator."),
        SCHEMA_PROP("PortalCount", RO, T_INTEGER, 1, 5, "1", "", "handle_NodeAttr_properties",
                    "This property indicates the number of rows in the iscsiPortaltypeTable which are currently associated with this iSCSI instance."),
        SCHEMA_PROP("NodeCount", RO, T_INTEGER, 1, 5, "1", "", "handle_NodeAttr_properties",
                    "This property indicates the number of rows in the iscsiNodetypeTable which are currently associated with this iSCSI instance."),
        SCHEMA_PROP("SessionCount", RO, T_INTEGER, 1, 5, "1", "", "handle_intrInstStat_properties",
                    "This property indicates the number of rows in the iscsiSessiontypeTable which are currently associated with this iSCSI instance."),
        SCHEMA_PROP("SessionFailureCount", RO, T_INTEGER, 1, 255, "1", "", "handle_intrInstStat_properties",
                    "This property indicates the number of times a session belonging to this instance has failed."),
        SCHEMA_PROP("LastSessionFailureType", RO, T_STRING, 1, 255, "1", "", "handle_intrInstStat_properties",
                    "This property indicates the type of failure encountered in the last session failure."),
        SCHEMA_PROP("LastSessionRmtNodeName", RO, T_STRING, 1, 224, "iqn.kd", "", "handle_intrInstStat_properties",
                    "This property indicates the iSCSI name of the remote node from the failed session."),
        SCHEMA_PROP("SessionDigestErrors", RO, T_STRING, 4, 0, "4", "", "handle_intrInstStat_properties",
                    "This property indicates the count of sessions which failed due to receipt of a PDU containing header or data digest errors."),
        SCHEMA_PROP("SessionConnectionTimeout", RO, T_STRING, 4, 0, "4", "", "handle_intrInstStat_properties",
                    "This property indicates the count of sessions which failed due to a sequence exceeding a time limit."),
        SCHEMA_PROP("SessionFormatErrors", RO, T_STRING, 4, 0, "4", "", "handle_intrInstStat_properties",
                    "This property indicates the count of sessions which failed due to receipt of an iSCSI PDU that contained a format error."),
        SCHEMA_PROP("LoginFailures", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the number of times a login from this initiator failed."),
        SCHEMA_PROP("LastFailureTime", RO, T_STRING, 0, 32, "0", "", "handle_intrLoginStat_properties",
                    "This property indicates the time stamp of the latest failed login attempt of this initiator. 0 means no login has failed yet."),
        SCHEMA_PROP("LastFailureType", RO, T_STRING, 0, 0, "0", "", "handle_intrLoginStat_properties",
                    "This property indicates the failure type for the most recent login failure on this initiator."),
        SCHEMA_PROP("LastTgtFailureName", RO, T_STRING, 1, 224, "iqn.kd", "", "handle_intrLoginStat_properties",
                    "This property indicates the UTF-8 string name of the target that most recently failed a login request from this initiator."),
        SCHEMA_PROP("LastTgtFailureAddr", RO, T_STRING, 0, 0, "0", "", "handle_intrLoginStat_properties",
                    "This property indicates an Internet Network Address of the type specified by the object iscsiIntrLastTgtFailureAddrType."),
        SCHEMA_PROP("LoginAcceptRsps", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the count of Login Response PDUs received by this initiator that were accepted."),
        SCHEMA_PROP("LoginOtherFailRsps", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the count of Login Response PDUs received by this initiator with any status code not counted in the other login response counters."),
        SCHEMA_PROP("LoginRedirectRsps", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the count of Login Response PDUs received by the initiator with status class Redirection."),
        SCHEMA_PROP("LoginAuthFailRsps", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the count of Login Response PDUs with status class 0x201 Authentication Failed received by this initiator."),
        SCHEMA_PROP("LoginAuthFails", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the number of times the initiator has aborted a login because the target could not be authenticated."),
        SCHEMA_PROP("LoginNegoFails", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the number of times the initiator has aborted a login because parameter negotiation with the target failed."),
        SCHEMA_PROP("LogoutNormals", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the count of Logout Command PDUs generated by this initiator with reason code normal."),
        SCHEMA_PROP("LogoutOthers", RO, T_STRING, 4, 0, "4", "", "handle_intrLoginStat_properties",
                    "This property indicates the count of Logout Command PDUs generated by this initiator with any status code other than normal."),
        SCHEMA_PROP("PortRowStatus", RO, T_STRING, 0, 3, "2", "", "handle_NodeAttr_properties",
                    "This field allows entries to be dynamically added and removed from this table via SNMP."),
        SCHEMA_PROP("PortalRole", RO, T_STRING, 1, 2, "1", "", "handle_NodeAttr_properties",
                    "This property describes the role of a portal. A portal can operate in either one of two roles as a target portal and/or an initiator portal."),
        SCHEMA_PROP("PortalProtocol", RO, T_STRING, 1, 2, "1", "", "handle_NodeAttr_properties",
                    "This property indicates the portal's transport protocol."),
        SCHEMA_PROP("PortalTag", RO, T_STRING, 1, 65535, "1", "", "handle_NodeAttr_properties",
                    "This property indicates the portals aggregation tag when the portal is used as an initiator."),
    SCHEMA_END(),

    SCHEMA_GROUP("Discovery", "This group stores the discovery parameters configured for the Initiator node.", "group_Discovery"),
        SCHEMA_ACTION("AddSendTargetPortal",
                      "This command creates a SendTargets portal, through which the SendTargets mechanism discovers target names at the portal's IP address and port. Example: OEMKDAddSendTargetPortal -OEMKDparams IPAddress=\"172.40.2.1\",PortNumber=\"3205\". Afterwards enter the new SendTargetPortal group and run OEMKDDiscoverTargets, which performs the discovery login; a target found that way returns its iSCSI name and can be logged in to like a target added by hand.",
                      PATH(Discovery_AddSendTargetPortal_spec)),
        SCHEMA_ACTION("DeleteSendTargetPortal",
                      "This command deletes the SendTarget portal with the given number from the controller. Example: OEMKDDeleteSendTargetPortal -OEMKDparams InstanceNumber=\"3\"",
                      PATH(Discovery_DeleteSendTargetPortal_spec)),
        SCHEMA_ACTION("RefreshAvailableTargets",
                      "This command rescans and detects newly discovered targets. The target groups, added by hand or discovered, appear below the logical HBA.",
                      PATH(Discovery_RefreshAvailableTargets_spec)),
    SCHEMA_END(),

    SCHEMA_ACTION("AddTarget",
                  "This command adds a target by hand to the initiator's list of targets: its iSCSI name, IP address and port; port 3260 is used when none is given. Example: OEMKDAddTarget -OEMKDparams TargetName=\"iqn.2001-04.com.example:tgt1\",IPAddress=\"17.2.21.15\",PortNumber=\"3260\"",
                  PATH(AddTarget_spec)),
    SCHEMA_ACTION("DeleteTarget", "Use this command to manually delete a target from the list of targets.",
                  PATH(DeleteTarget_spec)),
};

// One slice per iSCSI physical HBA (8 per controller); only bit 0 is used.
SCHEMA_KIND(kind_LogicalHBA, "initialize_LogicalHBA", "LogicalHBA",
            "This group instance corresponds to a single port of a Quorvantix controller functioning as an iSCSI initiator.",
            1, 16 * 8, nullptr, logical_hba_rows);

HmNode *initialize_LogicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_LogicalHBA, parent, key_a, key_b, keys);
}
