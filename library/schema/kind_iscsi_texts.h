// Help texts and CHAP parameters that the login-option and authentication
// groups of the initiator, the send-target portals and the targets share.
#pragma once

#define ISCSI_INITIAL_R2T_TEXT \
    "This property specifies whether the initiator waits for the target to solicit SCSI data before sending it. Yes: the initiator waits for the target to solicit SCSI data. No: the initiator may send a burst of FirstBurstLength bytes unsolicited. The valid values are Yes or No. The default is Yes."
#define ISCSI_IMMEDIATE_DATA_TEXT \
    "This property allows the initiator to append unsolicited data to a command. The valid values are Yes or No. The default is Yes."
#define ISCSI_HEADER_DIGEST_TEXT \
    "This property specifies whether the PDU header segments are protected by a CRC32C checksum. The valid values are CRC32C or None. The default is None."
#define ISCSI_DATA_DIGEST_TEXT \
    "This property specifies whether the PDU data segment is protected by a CRC32C checksum. The valid values are CRC32C or None. The default is None."
#define ISCSI_HEADER_PARAM_TEXT \
    "This property specifies the HeaderDigest level used at login. Preferred is allowed only when HeaderDigest is not at its default value. The valid values are Prohibited or Preferred. The default is Prohibited."
#define ISCSI_DATA_PARAM_TEXT \
    "This property specifies the DataDigest level used at login. Preferred is allowed only when DataDigest is not at its default value. The valid values are Prohibited or Preferred. The default is Prohibited."
#define ISCSI_DATA_PDU_IN_ORDER_TEXT \
    "This iSCSI login parameter determines the order of data PDUs within a sequence."
#define ISCSI_DATA_SEQUENCE_IN_ORDER_TEXT "This iSCSI login parameter determines the order between sequences."

#define ISCSI_INITIATOR_CHAP_NAME_TEXT \
    "This property indicates the initiator's CHAP name sent to the target. It is optional and needed only for Mutual CHAP. Any name or sequence of numbers may be used. Some implementations refer to this as a Username."
#define ISCSI_INITIATOR_SECRET_TEXT \
    "This property indicates the initiator's CHAP secret. It is needed only for Mutual CHAP and is shown as plain text while keyed and displayed. It is either a string of 12 to 16 bytes (one character per byte) or a hex form of 12 to 16 bytes (two characters per byte, not counting the leading 0x)."
#define ISCSI_TARGET_CHAP_NAME_TEXT \
    "This property indicates the target's CHAP name. It is required for One-Way and Mutual CHAP. Any name or sequence of numbers may be used. Some implementations refer to this as a Username."
#define ISCSI_TARGET_SECRET_TEXT \
    "This property indicates the target's CHAP secret. It is required for One-Way and Mutual CHAP and is shown as plain text while keyed and displayed. It is either a string of 12 to 16 bytes (one character per byte) or a hex form of 12 to 16 bytes (two characters per byte, not counting the leading 0x)."
#define ISCSI_CHAP_PARAM_TEXT \
    "This property indicates the CHAP level used at login. Prohibited: no CHAP, the method is always None. Discouraged: login with None first, then with CHAP. Preferred: login with CHAP first, then with None. Required: login with the CHAP the user gave."

// The text every InstanceNumber parameter carries.
#define ISCSI_INSTANCE_NUMBER_TEXT \
    "This parameter accepts string input and converts it to an equivalent number and uses that as an instance number."

// The six parameters of every ConfigureCHAP descriptor.
#define ISCSI_CHAP_PARAMS                                                                                   \
    SCHEMA_PARAM(1, "AuthenticationMethod", T_LIST, 4, 12, "Mutual CHAP,One-Way CHAP",                      \
                 "This parameter specifies the authentication method. Valid values are: Mutual CHAP and One-Way CHAP."), \
    SCHEMA_PARAM(0, "InitiatorCHAPName", T_STRING, 0, 256, "",                                               \
                 "This parameter specifies the initiator's CHAP name. It is optional and needed only for Mutual CHAP. Any name or sequence of numbers may be used."), \
    SCHEMA_PARAM(0, "InitiatorSecret", T_STRING, 0, 256, "",                                                 \
                 "This parameter specifies the initiator's CHAP secret. It is optional and needed only for Mutual CHAP: a string of 12 to 16 characters, or 12 to 16 bytes in hex (two characters per byte) after 0x."), \
    SCHEMA_PARAM(1, "TargetCHAPName", T_STRING, 1, 256, "",                                                  \
                 "This parameter specifies the target's CHAP name. It is required for One-Way and Mutual CHAP. Any name or sequence of numbers may be used."), \
    SCHEMA_PARAM(1, "TargetSecret", T_STRING, 12, 34, "",                                                    \
                 "This parameter specifies the target's CHAP secret. It is required for One-Way and Mutual CHAP: a string of 12 to 16 characters, or 12 to 16 bytes in hex (two characters per byte) after 0x."), \
    SCHEMA_PARAM(0, "CHAPParam", T_LIST, 4, 11, "Discouraged,Preferred,Required",                            \
                 "Valid values are: Discouraged, Preferred and Required.")
