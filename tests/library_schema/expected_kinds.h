// What a freshly built instance of each kind must hold, one line per child
// in creation order, nesting shown by two blanks per level:
//   G <group>
//   P <name> <ro|rw> <type> <min>..<max> "<default>" [<allowed>] <cache|own>
//       (cache: bound to the plain cached-value handler; own: a handler of its own)
//   A <action> <parameter count>
//     - <param> <req|opt> <type> <min>..<max> [<allowed>]
// Written from the schema's documentation of each kind, independently of the
// builder tables.
#pragma once

static const char kExpectedKalderstone[] = R"EXP(P OneView ro list 7..8 "Disabled" [Enabled,Disabled] own
P AdvancedMode rw list 7..8 "Enabled" [Enabled,Disabled] own
P ControllerStatus ro list 4..5 "Alive" [Alive,Dead] own
G LinkReconfiguration
  P ActiveLinkConfigID ro integer 0..32 "0" [] cache
  P ConfiguredLinkConfigID ro integer 0..32 "0" [] own
  A SetLinkConfigFactoryDefaults 0
  A SetLinkConfigID 1
    - LinkConfigID req integer 0..32 []
G FRUVPD
  P FRUVPDData0 ro string 0..256 "" [] own
  P FRUVPDData1 ro string 0..256 "" [] cache
  P FRUVPDData2 ro string 0..256 "" [] cache
  P FRUVPDData3 ro string 0..256 "" [] cache
  P FRUVPDData4 ro string 0..256 "" [] cache
  P FRUVPDData5 ro string 0..256 "" [] cache
  P FRUVPDData6 ro string 0..256 "" [] cache
  P FRUVPDData7 ro string 0..256 "" [] cache
  P FRUVPDData8 ro string 0..256 "" [] cache
  P FRUVPDData9 ro string 0..256 "" [] cache
  P FRUVPDData10 ro string 0..256 "" [] cache
G ChannelManagement
  P SupportedMCTypes ro list 3..7 "N/A" [UMC,vNIC1,vNIC2,UFP,NPAR,HPFlex,HPUMC,HPFlexQBG] own
  P CurrentManagementType ro list 3..4 "N/A" [UMC,vNIC1,vNIC2,UFP,NPAR] own
  P ConfiguredManagementType ro list 3..4 "N/A" [UMC,vNIC1,vNIC2,UFP,NPAR] own
  A ConfigureChannelManagement 2
    - ChannelState req list 7..8 [Enabled,Disabled]
    - ChannelType opt list 3..4 [UMC,vNIC1,vNIC2,UFP,NPAR]
P Manufacturer ro string 1..32 "0" [] cache
P ModelNumber ro string 1..32 "1" [] cache
P Description ro string 1..64 "0" [] cache
P SerialNumber ro string 1..32 "1" [] cache
P Capabilities ro string 1..128 "Unknown" [] cache
P ActiveFirmwareVersion ro string 5..32 "5" [] own
P FirmwareVersionOnFlash ro string 5..32 "5" [] own
P BIOSVersion ro string 5..32 "5" [] own
P BootCodeVersion ro string 5..32 "5" [] own
P FirmwareStatus ro list 6..8 "Unknown" [Working,Degraded,Critical,Failed,Unknown] own
P FCoEUniversalVersion ro string 0..32 "0" [] own
P FCoEx86BIOSVersion ro string 0..32 "" [] own
P FCoEEFIVersion ro string 0..32 "" [] own
P FCoEFCODEVersion ro string 0..32 "0" [] own
P UEFIBIOSVersion ro string 0..32 "" [] own
P UEFINICVersion ro string 0..32 "0" [] own
P UEFIFCODEVersion ro string 0..32 "0" [] own
P UEFISCSIVersion ro string 0..32 "0" [] own
P PXEBIOSVersion ro string 0..32 "0" [] cache
P PHYFirmwareVersion ro string 0..32 "0" [] own
P PHYConfigurationId ro string 0..32 "0" [] own
P KalderstoneOnDieTemperature ro integer 45..125 "45" [] own
P IPLFileName ro string 0..32 "0" [] own
P PCIExpressLinkSpeed ro string 0..5 "0" [] own
P PCIExpressBusWidth ro string 0..5 "0" [] own
P FFVName rw string 4..32 "0" [] own
G ProfileManagement
  P RebootRequired ro list 0..3 "No" [Yes,No] own
  P MaxFunctionsPerPort ro integer 2..8 "2" [] own
  G ActiveProfile
    P ProfileId ro integer 0..32 "0" [] cache
  G ConfiguredProfile
    P IPLMaxFunctionNumber ro integer 0..15 "0" [] own
    P SettableMaxFunctionNumber ro list 2..3 "No" [Yes,No] own
    P MaxFunctionNumber ro integer 0..15 "0" [] own
    P ProfileId rw integer 0..32 "0" [] own
    A SetMaxFunctionNumber 1
      - FunctionNumber opt integer 0..15 []
  A SetProfileId 1
    - ProfileId req integer 1..256 []
  A SaveProfile 0
  A SetFactoryDefaults 0
G NICCIM
  P PortControllerName ro string 0..128 "" [] own
  P ControllerType ro string 0..32 "" [] own
  P ProtocolSupported ro string 0..32 "" [] own
  P MaxSupportedController ro integer 0..8 "0" [] own
A RetrieveQuorvantixCoreDump 2
  - CoreDumpFileName req string 3..255 []
  - CoreDumpString opt list 4..9 [live,Dead,Test,Test live,Test Dead]
A RetrieveFwCliData 2
  - CliOutputFileName req string 3..255 []
  - FWCliString req string 2..255 []
A UpgradeFlashROM 1
  - UFIFileName req string 3..255 []
A ResetFactoryDefaults 1
  - ProfileId opt integer 0..256 []
A EraseAllConfiguration 0
G Personality
  P CurrentPersonality ro list 3..7 "iSCSI" [NIC,iSCSI,FCoE,Illegal] cache
  P AvailablePersonalities ro string 3..14 "NIC" [] cache
  P ConfiguredPersonality ro list 3..6 "NIC" [NIC,iSCSI,FCoE] own
  A SetPersonality 1
    - NewPersonality req list 3..5 [NIC,iSCSI,FCoE]
G OEM
  P TalvorSerialNumber ro string 1..12 "Unknown" [] cache
  P OEMSerialNumber ro string 1..24 "Unknown" [] cache
  P PersonalityManagementWord ro integer 0..2147483647 "0" [] cache
G NCSI
  P NCSIVersion ro string 5..32 "5" [] own
  P NCSISupport ro list 9..13 "Not Supported" [Supported,Not Supported] own
  P NCSIKSHandShake ro list 6..9 "Error" [Success,Error,N/A] own
G ExtFATData
  P MaxLogEntries ro integer 1..255 "1" [] cache
  P LogEntrySize ro integer 1..255 "1" [] cache
  P LoggingType ro list 11..13 "synchronous" [synchronous,asynchronous] cache
  P MaxLoggingFunctions ro integer 1..8 "1" [] cache
  P MaxLoggingPorts ro integer 1..4 "1" [] cache
  P SupportedModes ro list 3..15 "UART" [UART,RAM] cache
  P NumberOfModules ro integer 0..64 "0" [] cache
  A RetrieveARMLog 2
    - ARMLogFileName req string 3..255 []
    - SnapshotMode req list 3..5 [RAM,DDR,FLASH]
  A EnableLoggingOnAllModules 3
    - TraceLevel req list 0..128 [0,1,4,5,8,16,32,48,64,128]
    - UARTMode opt list 2..3 [Yes,No]
    - RAMMode opt list 2..3 [Yes,No]
  A DisableLoggingOnAllModules 2
    - UARTMode opt list 2..3 [Yes,No]
    - RAMMode opt list 2..3 [Yes,No]
  A SetDefaultLoggingConfiguration 0
G EventLog
  A RefreshEventLog 0
  A ClearEventLog 0
G FATData
  P FATDataValid ro list 2..3 "Yes" [Yes,No] own
  A RetrieveFATData 1
    - FATFileName req string 3..255 []
  A ClearFATData 0
G Diagnostics
  P TotalTestCycles ro integer 0..2147483647 "0" [] cache
  P TotalCompleteCycles ro integer 0..2147483647 "0" [] cache
  P TotalErrorCycles ro integer 0..2147483647 "0" [] cache
  P SendErrorCount ro integer 0..4096 "0" [] cache
  P ReceiveErrorCount ro integer 0..4096 "0" [] cache
  P DataMiscompareCount ro integer 0..4096 "0" [] cache
  P TotalCompleteCount ro integer 0..2147483647 "0" [] cache
  P IsLoopbackSupported ro list 4..5 "True" [True,False] cache
  A HostToDDRDMATest 3
    - Pattern req string 3..16 []
    - ByteCount req integer 64..4096 []
    - LoopCount req integer 1..4096 []
  A EnterLoopBackMode 3
    - SourcePortNumber req integer 0..3 []
    - DestinationPortNumber req integer 0..3 []
    - LoopbackType req list 11..15 [MacLoopBack,PhyLoopBack,OnePortLoopBack,TwoPortLoopBack]
  A ExitLoopBackMode 2
    - SourcePortNumber req integer 0..3 []
    - DestinationPortNumber req integer 0..3 []
  A NetworkLoopBackTest 6
    - Pattern req string 3..16 []
    - ByteCount req integer 1500..8192 []
    - LoopCount req integer 1..4096 []
    - SourcePortNumber req integer 0..3 []
    - DestinationPortNumber req integer 0..3 []
    - LoopbackType req list 11..15 [MacLoopBack,PhyLoopBack,OnePortLoopBack,TwoPortLoopBack]
)EXP";

static const char kExpectediSCSIPhysicalHBA[] = R"EXP(P iSCSIBIOSEnable rw list 2..3 "Yes" [Yes,No] own
P PortNumber ro integer 0..3 "0" [] cache
P iSCSIVersionMin ro string 1..3 "1" [] cache
P iSCSIVersionMax ro string 1..3 "1" [] cache
P MaxCDBLength ro integer 6..16 "16" [] cache
P LDTO ro integer 0..3600 "20" [] cache
P DefaultETO ro integer 0..3600 "30" [] cache
G Driver
  P DriverName ro string 2..10 "SORBLOCK" [] cache
  P DriverVersion ro string 2..6 "2" [] cache
G Network
  G TCPIPConfiguration
    G RouteTable
      A AddRouteTableEntry 3
        - Destination req ipv4 0..16 []
        - SubnetMask req mask 0..255 []
        - Gateway req ipv4 1..64 []
      A DeleteRouteTableEntry 1
        - InstanceNumber req integer 0..1023 []
      A RefreshRouteTableEntry 0
    G ARPTable
      A AddARPTableEntry 2
        - IPAddress req ipv4 0..16 []
        - MACAddress req string 17..17 []
      A DeleteARPTableEntry 1
        - InstanceNumber req integer 0..63 []
      A RefreshARPTableEntry 0
    P VLANId ro integer 0..4094 "0" [] cache
    P Priority ro integer 0..7 "0" [] cache
    P VLANEnabled ro list 4..5 "False" [True,False] cache
    P InitiatorIPAddress ro ipv4 0..16 "0.0.0.0" [] own
    P InitiatorSubnetMask ro ipv4 0..255 "0.0.0.0" [] own
    P DefaultGateway rw ipv4 1..64 "0.0.0.0" [] own
    P DHCPEnabled ro list 4..5 "False" [True,False] own
    A DeleteDefaultGateway 0
    A DHCPEnable 0
    A DHCPDisable 0
    A ConfigureIPAddress 2
      - IPAddress req string 0..16 []
      - SubnetMask req string 0..16 []
    A ConfigureVLAN 2
      - VLANId req integer 0..4094 []
      - Priority opt integer 0..7 []
    A VLANDisable 0
    A Ping 1
      - IPAddress req ipv4 0..0 []
    G IPv6Configuration
      P IPv6State ro list 3..10 "N/A" [N/A,AutoAssign,Static] own
      P InitiatorLinkLocalAddress ro string 1..50 "fe80::0" [] own
      P InitiatorRoutableAddress1 ro string 1..50 "fe80::0" [] own
      P InitiatorRoutableAddress2 ro string 1..50 "fe80::0" [] own
      P DefaultIPv6Gateway rw string 1..50 "fe80::0" [] own
      A DeleteDefaultIPv6Gateway 0
      A AutoAssignEnable 1
        - Type req list 1..4 [Auto,DHCP]
      A AutoAssignDisable 0
      A ConfigureIPv6Address 2
        - AddressType req list 1..1 [0,1,2]
        - IPAddress req string 1..50 []
  G NICConfiguration
    G vNIC
      P vNICEnabled ro list 4..5 "False" [True,False] own
      P vNICName ro string 1..32 "1" [] own
      P OuterVLANID ro integer 0..4094 "0" [] own
      P MinBandwidth ro integer 0..1000 "0" [] own
      P MaxBandwidth ro integer 10..1000 "0" [] own
    P PortSpeed ro list 3..13 "0 (Link Down)" [0 (Link Down),less than 1Mb,less than 1Gb,1Gb,10Gb,20Gb,25Gb,40Gb,100Gb] own
    P PortMaxSpeed ro list 3..13 "Unknown" [Unknown,less than 1Mb,less than 1Gb,1Gb,10Gb] own
    P MaxMTUSize ro integer 64..9200 "8342" [] own
    P LogicalLinkStatus ro list 2..7 "Unknown" [Up,Down,Unknown] own
    P ActivePort ro list 0..26 "Port 0" [Port 0,Port 1,None] own
    P MACAddress ro string 17..17 "00:00:00:00:00:00" [] own
    P PermanentMACAddress rw string 17..17 "00:00:00:00:00:00" [] own
    P FactoryDefaultMACAddress ro string 17..17 "00:00:00:00:00:00" [] cache
    A ResetMACAddress 0
    A RefreshNICConfig 0
G VPD
  P VPDData0 ro string 0..256 "" [] cache
  P VPDData1 ro string 0..256 "" [] cache
  P VPDData2 ro string 0..256 "" [] cache
  P VPDData3 ro string 0..256 "" [] cache
  P VPDData4 ro string 0..256 "" [] cache
  P VPDData5 ro string 0..256 "" [] cache
  P VPDData6 ro string 0..256 "" [] cache
  P VPDData7 ro string 0..256 "" [] cache
  P VPDData8 ro string 0..256 "" [] cache
G PCI
  P VendorID ro integer 0..65535 "0" [] cache
  P DeviceID ro integer 0..65535 "0" [] cache
  P SubsysDeviceID ro integer 0..65535 "0" [] cache
  P SubsysVendorID ro integer 0..65535 "0" [] cache
  P DomainNumber ro integer 0..255 "0000" [] own
  P BusNumber ro integer 0..255 "0" [] cache
  P DeviceNumber ro integer 0..32 "0" [] cache
  P FunctionNumber ro integer 0..8 "0" [] cache
  A DumpiSCSIPCIConfigRegion 2
    - RegisterOffset req integer 0..252 []
    - Count req integer 1..64 []
G iSNS
  P iSNSEnabled rw list 1..3 "No" [Yes,No] own
  A DiscoveryiSNSThruDHCP 0
  A ConfigureiSNSServer 2
    - IPAddress req ipv4 0..0 []
    - PortNum opt integer 1024..65535 []
  A DeleteiSNSServer 1
    - InstanceNumber req integer 0..3 []
A EraseConfiguration 1
  - LogicalHBAInstanceNumber opt integer 0..0 []
)EXP";

static const char kExpectedNICPhysicalHBA[] = R"EXP(G VPD
  P VPDData0 ro string 0..256 "" [] cache
  P VPDData1 ro string 0..256 "" [] cache
  P VPDData2 ro string 0..256 "" [] cache
  P VPDData3 ro string 0..256 "" [] cache
  P VPDData4 ro string 0..256 "" [] cache
  P VPDData5 ro string 0..256 "" [] cache
  P VPDData6 ro string 0..256 "" [] cache
  P VPDData7 ro string 0..256 "" [] cache
  P VPDData8 ro string 0..256 "" [] cache
G vNIC
  P vNICEnabled ro list 4..5 "False" [True,Flase] own
  P vNICName ro string 1..32 "1" [] own
  P OuterVLANID ro integer 0..4094 "0" [] own
  P MinBandwidth ro integer 0..1000 "0" [] own
  P MaxBandwidth ro integer 10..1000 "0" [] own
G NetworkBootConfiguration
  P AvailableNetworkBootMethods ro list 3..4 "PXE" [PXE,iBFT] own
  P NetworkBootMethod ro list 3..4 "PXE" [PXE,iBFT] own
  P NetworkBootState ro list 2..3 "Enabled" [Enabled,Disabled] own
  P VolatileMACAddress rw string 17..17 "00:00:00:00:00:00" [] own
  P VLANId ro integer 0..4095 "0" [] own
  P VLANPriority ro integer 0..7 "0" [] own
  A SetNetworkBoot 2
    - NetworkBootState req list 7..8 [Enabled,Disabled]
    - NetworkBootMethod opt list 3..4 [PXE,iBFT]
  A ConfigureVLAN 2
    - VLANId req integer 0..4095 []
    - Priority opt integer 0..7 []
P IsRoCEEnabled ro list 4..5 "False" [True,False] own
P IsVF ro list 4..5 "False" [True,False] cache
P PortNumber ro integer 0..3 "0" [] cache
P MTUSize ro integer 64..9000 "1500" [] own
P MaxMTUSize ro integer 64..9000 "9000" [] cache
P LogicalLinkStatus ro list 2..7 "Unknown" [Up,Down,Unknown] own
P IfName ro string 1..32 "1" [] cache
P MACAddress rw string 17..17 "00:00:00:00:00:00" [] own
P PermanentMACAddress rw string 17..17 "00:00:00:00:00:00" [] own
P FactoryDefaultMACAddress ro string 17..17 "00:00:00:00:00:00" [] cache
P MinBitsPerSecond ro integer 0..1000 "0" [] own
P MaxBitsPerSecond ro integer 0..1000 "0" [] own
P PortSpeed ro list 3..13 "0 (Link Down)" [0 (Link Down),less than 1Mb,less than 1Gb,1Gb,10Gb,20Gb,25Gb,40Gb,100Gb] own
P SRIOVState rw list 7..8 "Disabled" [Enabled,Disabled] own
P VEPAState rw list 7..8 "Disabled" [Enabled,Disabled] own
A ResetMACAddress 0
A EraseNICConfiguration 0
G CIM
  P ProtocolIfType ro string 1..32 "1" [] own
  P LinkTechnology ro string 1..32 "1" [] own
  P Capabilities ro string 1..64 "1" [] own
  P EnabledCapabilities ro string 1..64 "1" [] own
G PCI
  P VendorID ro integer 0..65535 "0" [] cache
  P DeviceID ro integer 0..65535 "0" [] cache
  P SubsysDeviceID ro integer 0..65535 "0" [] cache
  P SubsysVendorID ro integer 0..65535 "0" [] cache
  P DomainNumber ro integer 0..255 "0000" [] cache
  P BusNumber ro integer 0..255 "0" [] cache
  P DeviceNumber ro integer 0..32 "0" [] cache
  P FunctionNumber ro integer 0..8 "0" [] cache
  A DumpNICPCIConfigRegion 2
    - RegisterOffset req integer 0..252 []
    - Count req integer 1..64 []
G Driver
  P DriverName ro string 2..10 "SORNIC" [] cache
  P DriverVersion ro string 2..6 "2" [] cache
)EXP";

static const char kExpectedNICLogicalHBA[] = R"EXP(P MACAddress rw string 17..17 "00:00:00:00:00:00" [] own
P VLANID rw integer 0..4094 "0" [] own
P LinkStatus ro list 2..7 "Up" [Up,Down] own
P TxRate rw integer 1..10000 "100" [] own
)EXP";

static const char kExpectedEventLogEntry[] = R"EXP(P SequenceNumber ro integer 1..255 "1" [] cache
P TimeStamp ro integer 1..255 "1" [] cache
P Severity ro list 1..255 "Unknown" [Fatal,Error,Warning,Informational,Unknown] cache
P Description ro string 1..255 "0" [] cache
P ErrorCode ro integer 1..255 "1" [] cache
)EXP";

static const char kExpectedExtFATModule[] = R"EXP(P ModuleString ro string 1..32 "N/A" [] cache
P ModuleId ro integer 1..32 "1" [] cache
)EXP";

static const char kExpectedExtFATMode[] = R"EXP(P Mode ro list 7..8 "UART" [UART,RAM] cache
P PortMask rw string 3..4 "0xFF" [] own
P PCIFunctionMask rw string 3..18 "0xFFFFFFFFFFFFFFFF" [] own
P TraceLevel rw list 0..255 "0" [0,1,4,5,8,16,32,48,64,128,255] own
)EXP";

// The iSCSI initiator side, the port subtree, channels, DCBX entries, profile
// groups, NC-SI and link configurations.

// The configured login options with the opening of their Authentication
// group, and the CHAP actions that close it: alike in the initiator, the
// send-target portals and the targets.
#define EXPECTED_LOGIN_OPTIONS \
    "  P InitialR2T ro list 0..3 \"Yes\" [Yes,No] own\n" \
    "  P ImmediateData rw list 0..3 \"Yes\" [Yes,No] own\n" \
    "  P HeaderDigest rw list 4..6 \"None\" [None,CRC32C] own\n" \
    "  P DataDigest rw list 4..6 \"None\" [None,CRC32C] own\n" \
    "  P HeaderParam rw list 9..10 \"Prohibited\" [Prohibited,Preferred] own\n" \
    "  P DataParam rw list 9..10 \"Prohibited\" [Prohibited,Preferred] own\n" \
    "  G Authentication\n"
#define EXPECTED_CHAP_ACTIONS \
    "    A ConfigureCHAP 6\n" \
    "      - AuthenticationMethod req list 4..12 [Mutual CHAP,One-Way CHAP]\n" \
    "      - InitiatorCHAPName opt string 0..256 []\n" \
    "      - InitiatorSecret opt string 0..256 []\n" \
    "      - TargetCHAPName req string 1..256 []\n" \
    "      - TargetSecret req string 12..34 []\n" \
    "      - CHAPParam opt list 4..11 [Discouraged,Preferred,Required]\n" \
    "    A DeleteCHAP 0\n"

static const char kExpectedLogicalHBA[] = R"EXP(P Enabled rw list 4..5 "False" [False,True] own
P IfName ro string 1..32 "vmhba" [] cache
G InitiatoriSCSIName
  P InitiatoriSCSIName rw string 1..223 "iqn.kd" [] own
  P InitiatorAlias rw string 0..31 "kd" [] own
G InitiatorDefaultLoginOptions
  P InitialR2T ro list 0..3 "Yes" [Yes,No] cache
  P ImmediateData ro list 0..3 "Yes" [Yes,No] cache
  P MaxConnections ro integer 1..1 "1" [] cache
  P MaxOutstandingR2T ro integer 1..255 "1" [] cache
  P FirstBurstLength ro integer 0..8192 "8192" [] cache
  P MaxBurstLength ro integer 0..262144 "262144" [] cache
  P DefaultTime2Wait ro integer 0..2 "2" [] cache
  P DefaultTime2Retain ro integer 0..20 "20" [] cache
  P ErrorRecoveryLevel ro integer 0..255 "0" [] cache
  P DataPDUInOrder ro integer 0..1 "1" [] cache
  P DataSequenceInOrder ro integer 0..1 "1" [] cache
  P HeaderDigest ro list 4..6 "None" [None,CRC32C] cache
  P DataDigest ro list 4..6 "None" [None,CRC32C] cache
  P MaxRecvDataSegmentLength ro integer 0..65536 "65536" [] cache
G InitiatorLoginOptions
)EXP" EXPECTED_LOGIN_OPTIONS R"EXP(    P AuthenticationMethod ro list 4..12 "None" [None,Mutual CHAP,One-Way CHAP] own
    P InitiatorCHAPName ro string 1..256 "" [] own
    P InitiatorSecret ro string 12..34 "" [] own
    P TargetCHAPName ro string 1..256 "" [] own
    P TargetSecret ro string 12..34 "" [] own
    P CHAPParam ro list 4..11 "Prohibited" [Prohibited,Discouraged,Preferred,Required] own
)EXP" EXPECTED_CHAP_ACTIONS R"EXP(G iSCSIQoS
  P MinBitsPerSecond ro integer 0..1000 "0" [] own
  P MaxBitsPerSecond ro integer 0..1000 "0" [] own
  P MaxBytesPerSecond rw integer 0..1280 "0" [] own
  P MaxIosPerSecond rw integer 0..250 "0" [] own
G iSCSIStatistics
  P NodeRoles ro string 1..255 "1" [] own
  P PortalCount ro integer 1..5 "1" [] own
  P NodeCount ro integer 1..5 "1" [] own
  P SessionCount ro integer 1..5 "1" [] own
  P SessionFailureCount ro integer 1..255 "1" [] own
  P LastSessionFailureType ro string 1..255 "1" [] own
  P LastSessionRmtNodeName ro string 1..224 "iqn.kd" [] own
  P SessionDigestErrors ro string 4..0 "4" [] own
  P SessionConnectionTimeout ro string 4..0 "4" [] own
  P SessionFormatErrors ro string 4..0 "4" [] own
  P LoginFailures ro string 4..0 "4" [] own
  P LastFailureTime ro string 0..32 "0" [] own
  P LastFailureType ro string 0..0 "0" [] own
  P LastTgtFailureName ro string 1..224 "iqn.kd" [] own
  P LastTgtFailureAddr ro string 0..0 "0" [] own
  P LoginAcceptRsps ro string 4..0 "4" [] own
  P LoginOtherFailRsps ro string 4..0 "4" [] own
  P LoginRedirectRsps ro string 4..0 "4" [] own
  P LoginAuthFailRsps ro string 4..0 "4" [] own
  P LoginAuthFails ro string 4..0 "4" [] own
  P LoginNegoFails ro string 4..0 "4" [] own
  P LogoutNormals ro string 4..0 "4" [] own
  P LogoutOthers ro string 4..0 "4" [] own
  P PortRowStatus ro string 0..3 "2" [] own
  P PortalRole ro string 1..2 "1" [] own
  P PortalProtocol ro string 1..2 "1" [] own
  P PortalTag ro string 1..65535 "1" [] own
G Discovery
  A AddSendTargetPortal 2
    - IPAddress req ipv4 0..0 []
    - PortNumber req integer 1024..65535 []
  A DeleteSendTargetPortal 1
    - InstanceNumber req integer 0..127 []
  A RefreshAvailableTargets 0
A AddTarget 4
  - TargetName req string 6..223 []
  - IPAddress req ipv4 0..0 []
  - PortNumber opt integer 1024..65535 []
  - BootTarget opt list 4..5 [True,False]
A DeleteTarget 1
  - InstanceNumber req integer 0..256 []
)EXP";

static const char kExpectedSendTargetPortal[] = R"EXP(G SendTargetPortalLoginOptions
)EXP" EXPECTED_LOGIN_OPTIONS R"EXP(    P AuthenticationMethod ro list 4..12 "None" [None,Mutual CHAP,One-Way CHAP] own
    P InitiatorCHAPName ro string 1..256 "" [] own
    P InitiatorSecret ro string 12..34 "" [] own
    P TargetCHAPName ro string 1..256 "" [] own
    P TargetSecret ro string 12..34 "" [] own
    P CHAPParam ro list 4..11 "Prohibited" [Prohibited,Discouraged,Preferred,Required] own
)EXP" EXPECTED_CHAP_ACTIONS R"EXP(P IPAddress ro ipv4 0..0 "0.0.0.0" [] cache
P PortNumber ro integer 1024..65535 "3260" [] cache
P PortMacAddress ro string 17..17 "00:00:00:00:00:00" [] cache
A DiscoverTargets 1
  - TargetName opt string 0..255 []
)EXP";

static const char kExpectedTarget[] = R"EXP(G TargetLoginOptions
)EXP" EXPECTED_LOGIN_OPTIONS R"EXP(    P AuthenticationMethod ro list 4..12 "None" [None,Mutual CHAP,One-Way CHAP] own
    P InitiatorCHAPName ro string 1..256 "" [] own
    P InitiatorSecret ro string 12..34 "" [] cache
    P TargetCHAPName ro string 1..256 "" [] cache
    P TargetSecret ro string 12..34 "" [] own
    P CHAPParam ro list 4..11 "Prohibited" [Prohibited,Discouraged,Preferred,Required] own
)EXP" EXPECTED_CHAP_ACTIONS R"EXP(P TargetISCSIName ro string 6..223 "6" [] cache
P TargetAlias ro string 0..0 "" [] own
P ETO rw integer 0..3600 "30" [] own
P TargetType ro list 6..10 "Static" [Static,Discovered] own
A Login 5
  - IPAddress opt ipv4 0..0 []
  - PortNumber opt integer 1024..65535 []
  - SessionInitiatorName opt string 1..223 []
  - ISIDQualifier opt integer 0..65535 []
  - BootTarget opt list 4..5 [True,False]
A DeleteTargetPortal 1
  - InstanceNumber opt integer 0..63 []
A AddTargetPortal 2
  - IPAddress req ipv4 0..0 []
  - PortNumber opt integer 1024..65535 []
A Logout 1
  - InstanceNumber opt integer 0..63 []
A ReScanLUNS 0
)EXP";

static const char kExpectedLUN[] = R"EXP(P LUNNumber ro string 0..0 "0" [] own
P LUNSize ro integer 0..0 "0" [] own
P BlockSize ro integer 0..0 "0" [] own
P DeviceVendorName ro string 0..0 "0" [] own
P DeviceModelNumber ro integer 0..0 "0" [] own
P LUNName ro string 5..225 "0" [] cache
P LUNSerialNumber ro string 0..255 "0" [] own
P LUNType ro string 0..0 "0" [] own
A StdInquiry 0
A SCSIWrite 2
  - StartBlockAddress req integer 0..65535 []
  - Count req integer 1..65535 []
)EXP";

static const char kExpectedSession[] = R"EXP(G SessionLoginOptions
  P InitialR2T ro list 0..3 "Yes" [Yes,No] cache
  P ImmediateData ro list 0..3 "Yes" [Yes,No] cache
  P HeaderDigest ro list 4..6 "None" [None,CRC32C] cache
  P DataDigest ro list 4..6 "None" [None,CRC32C] cache
  G Authentication
    P AuthenticationMethod ro list 4..12 "None" [None,Mutual CHAP,One-Way CHAP] cache
    P InitiatorCHAPName ro string 1..256 "" [] cache
    P InitiatorSecret ro string 12..34 "" [] cache
    P TargetCHAPName ro string 1..256 "" [] cache
    P TargetSecret ro string 12..34 "" [] cache
G SessionNegotiatedLoginOptions
  P InitialR2T ro list 0..3 "Yes" [Yes,No] cache
  P ImmediateData ro list 0..3 "Yes" [Yes,No] cache
  P MaxConnections ro integer 1..1 "1" [] cache
  P MaxOutstandingR2T ro integer 1..0 "1" [] cache
  P FirstBurstLength ro string 0..10 "8192" [] cache
  P MaxBurstLength ro integer 0..262144 "262144" [] cache
  P DefaultTime2Wait ro integer 0..2 "2" [] cache
  P DefaultTime2Retain ro integer 0..20 "20" [] cache
  P ErrorRecoveryLevel ro integer 0..0 "0" [] cache
  P DataPDUInOrder ro integer 0..1 "1" [] cache
  P DataSequenceInOrder ro integer 0..1 "1" [] cache
G iSCSISessionStatistics
  P SessionDirection ro integer 1..2 "1" [] own
  P CmdPdus ro integer 1..65536 "0" [] own
  P RspPdus ro integer 1..65536 "0" [] own
  P TxDataOctetsHigh ro integer 1..2147483647 "0" [] own
  P RxDataOctetsHigh ro integer 1..2147483647 "0" [] own
  P DigestErrors ro integer 0..65536 "0" [] own
  P CxnTimeoutErrors ro integer 0..65536 "0" [] own
  P SessionTargetAlias ro string 0..30 "" [] own
P SessionTSIH ro string 0..0 "0" [] own
P ISIDQualifier ro integer 0..0 "0" [] own
P ISID ro integer 0..0 "0" [] cache
P SessionInitiatorName ro string 1..223 "iqn.kd" [] own
P SessionStatus ro string 0..32 "Unknown" [] own
P iSCSIBoot rw list 4..5 "False" [False,True] own
P Persistent ro list 4..5 "False" [False,True] own
)EXP";

static const char kExpectedConnection[] = R"EXP(G ConnectionNegotiatedLoginOptions
  P AuthenticationMethod ro list 4..12 "None" [None,Mutual CHAP,One-Way CHAP] cache
  P HeaderDigest ro list 4..6 "None" [None,CRC32C] cache
  P DataDigest ro list 4..6 "None" [None,CRC32C] cache
  P MaxSendDataSegmentLength ro integer 512..16384 "16384" [] cache
  P TCPMSS ro integer 1436..8248 "1460" [] cache
P iSCSIConnectionID ro integer 1..32 "1" [] own
P Status ro string 0..32 "Connection Status Unknown" [] own
P SourcePortNumber ro integer 1024..65535 "1024" [] own
P DestinationPortNumber ro integer 1024..65535 "1024" [] own
P SourceIPAddress ro ipv4 0..0 "0.0.0.0" [] own
P DestinationIPAddress ro ipv4 0..0 "0.0.0.0" [] own
P RedirectedDestinationPort ro string 0..0 "0" [] own
P RedirectedDestinationIPAddress ro string 0..0 "0" [] own
)EXP";

static const char kExpectedTargetPortal[] = R"EXP(P TargetIPAddress ro ipv4 0..0 "0.0.0.0" [] cache
P TargetPortNumber ro integer 1..65535 "1036" [] cache
P PortalGroupTag ro integer 0..255 "0" [] cache
)EXP";

static const char kExpectediSNSServer[] = R"EXP(P IPAddress ro ipv4 0..0 "0.0.0.0" [] cache
P PortNumber ro integer 1024..65535 "3205" [] cache
)EXP";

static const char kExpectedARPTableEntry[] = R"EXP(P IPAddress ro ipv4 0..16 "0.0.0.0" [] cache
P MACAddress ro string 17..17 "00:00:00:00:00:00" [] cache
)EXP";

static const char kExpectedRouteTableEntry[] = R"EXP(P Destination ro ipv4 0..16 "0.0.0.0" [] cache
P SubnetMask ro mask 0..255 "255.255.255.0" [] cache
P Gateway ro ipv4 1..64 "0.0.0.0" [] cache
)EXP";

static const char kExpectedPort[] = R"EXP(P PortNumber ro integer 0..3 "0" [] cache
P PortName ro string 1..1 "0" [] cache
P PortState rw list 7..8 "Enabled" [Enabled,Disabled] own
P PhysicalLinkStatus ro list 2..7 "Unknown" [Up,Down,Unknown] own
P PHYType ro integer 0..255 "0x0" [] own
P InterfaceType ro string 2..26 "Unknown" [] cache
P BeaconState ro list 7..13 "Disabled" [Enabled,Disabled,Not Supported] own
P TXThrottle rw string 1..2 "2" [] own
G ChannelManagement
G BaseT10G
  P 10GBaseTDiagStatus ro string 0..32 "0" [] own
  P Temperature ro string 0..120 "0" [] own
  P PHYLinkDownReason ro integer 0..5 "0" [] own
  P PairASNR ro string 0..32 "0" [] own
  P PairBSNR ro string 0..32 "0" [] own
  P PairCSNR ro string 0..32 "0" [] own
  P PairDSNR ro string 0..32 "0" [] own
  P TimeSinceLinkHigh ro string 0..32 "0" [] own
  P TimeSinceLinkLow ro string 0..32 "0" [] own
  P AverageMSEPairA ro string 0..32 "0" [] own
  P AverageMSEPairB ro string 0..32 "0" [] own
  P AverageMSEPairC ro string 0..32 "0" [] own
  P AverageMSEPairD ro string 0..32 "0" [] own
  P LDPCFrameHigh ro string 0..32 "0" [] own
  P LDPCFrameLow ro string 0..32 "0" [] own
  P PHYCRC8High ro string 0..32 "0" [] own
  P PHYCRC8Low ro string 0..32 "0" [] own
  P MDIPLLEventCounter ro string 0..32 "0" [] own
  P 10GEMIEventCounter ro string 0..32 "0" [] own
  P PHYFrameCounter ro string 0..64 "0" [] own
  P SelfTestResult ro integer 0..4 "" [] cache
  P PairAResult ro integer 0..3 "0" [] cache
  P PairBResult ro integer 0..3 "0" [] cache
  P PairCResult ro integer 0..3 "0" [] cache
  P PairDResult ro integer 0..3 "0" [] cache
  P PairALengthEstimation ro integer 0..100 "0" [] cache
  P PairBLengthEstimation ro integer 0..100 "0" [] cache
  P PairCLengthEstimation ro integer 0..100 "0" [] cache
  P PairDLengthEstimation ro integer 0..100 "0" [] cache
  P NVPValue rw string 0..100 "72" [] own
  P NVPUsed ro integer 0..100 "72" [] cache
  P IsClearCountersSupported ro list 4..5 "False" [True,False] cache
  A SelfTest 3
    - TestType req list 0..10 [Noise,NonLinear,CrossTalk]
    - SourceCable req list 0..6 [PairA,PairB,PairC,PairD]
    - TargetCable opt list 0..6 [PairA,PairB,PairC,PairD]
  A RunTDR 0
  A ClearCounters 0
P FCoEWWPN ro string 0..16 "0" [] own
P Mode ro list 5..15 "Default" [Force,Auto-Negotiate,Default] own
P ConfiguredSpeed ro list 3..20 "0" [All Supported Speeds,10Mb,100Mb,1Gb,10Gb,10Gb/1Gb,10Gb/1Gb/100Mb,1Gb/100Mb,1Gb/100Mb/10Mb,100Mb/10Mb,40Gb] own
P DACCableLength ro string 0..10 "0" [] own
P ANSpeedsSupported ro list 3..10 "0" [0,10Mb,100Mb,1Gb,10Gb] cache
P ForceSpeedsSupported ro list 3..10 "0" [0,10Mb,100Mb,1Gb,10Gb] cache
P TxFlowControl rw list 7..8 "N/A" [Enabled,Disabled] own
P RxFlowControl rw list 7..8 "N/A" [Enabled,Disabled] own
P FCoELinkSpeed ro list 3..13 "0 (Link Down)" [0 (Link Down),less than 1Mb,less than 1Gb,1Gb,10Gb,20Gb,25Gb,40Gb,100Gb] own
A Beacon 3
  - BeaconDuration opt integer 0..255 []
  - StatusDuration opt integer 0..255 []
  - BeaconState req list 7..8 [Enabled,Disabled]
A SetPortSpeed 3
  - Speed opt list 3..15 [10Mb,100Mb,1Gb,10Gb,10Gb/1Gb,10Gb/1Gb/100Mb,1Gb/100Mb,1Gb/100Mb/10Mb,100Mb/10Mb,40Gb,40Gb/10Gb,40Gb/1Gb,40Gb/10Gb/1Gb,20Gb,20Gb/1Gb,20Gb/10Gb,20Gb/10Gb/1Gb]
  - Mode req list 5..15 [Force,Auto-Negotiate,Default]
  - DACCableLength opt integer 0..10 []
A DumpTransceiverData 1
  - WireAddress req list 2..2 [A0,A2]
A ErasePortandDiscoveryConfiguration 0
G LLDP
  G LocalConfiguration
    P TxState rw list 7..8 "Enabled" [Enabled,Disabled] own
    P RxState rw list 7..8 "Enabled" [Enabled,Disabled] own
    P PortDescriptionTLV rw list 7..8 "Enabled" [Enabled,Disabled] own
    P SystemDescriptionTLV rw list 7..8 "Enabled" [Enabled,Disabled] own
    P SystemNameTLV rw list 7..8 "Enabled" [Enabled,Disabled] own
    P SystemCapabilitiesTLV rw list 7..8 "Enabled" [Enabled,Disabled] own
    P ChassisId ro string 0..255 "Unknown" [] own
    P ChassisType ro list 7..17 "Unknown" [Chasis Component,Interface Alias,Port Component,MAC Address,Network Address,Interface Name,Locally Assigned,Unknown] own
    P PortId ro string 0..255 "Unknown" [] own
    P PortType ro list 7..16 "Unknown" [Interface Alias,Port Component,MAC Address,Network Address,Interface Name,Agent Circuit Id,Locally Assigned,Unknown] own
    P PortDescription ro string 0..255 "Unknown" [] own
    P SystemName ro string 0..255 "Unknown" [] own
    P SystemDescription ro string 0..255 "Unknown" [] own
    P SystemCapabilities ro list 4..9 "Unknown" [Other,Repeater,Bridge,WLAN,Router,Telephone,Docsis,Station,Unknown] own
    P TTL ro integer 0..255 "0" [] own
  G PeerConfiguration
    P ChassisId ro string 0..255 "Unknown" [] own
    P ChassisType ro list 7..17 "Unknown" [Chasis Component,Interface Alias,Port Component,MAC Address,Network Address,Interface Name,Locally Assigned,Unknown] own
    P PortId ro string 0..255 "Unknown" [] own
    P PortType ro list 7..16 "Unknown" [Interface Alias,Port Component,MAC Address,Network Address,Interface Name,Agent Circuit Id,Locally Assigned,Unknown] own
    P PortDescription ro string 0..255 "Unknown" [] own
    P SystemName ro string 0..255 "Unknown" [] own
    P SystemDescription ro string 0..255 "Unknown" [] own
    P SystemCapabilities ro list 4..9 "Unknown" [Other,Repeater,Bridge,WLAN,Router,Telephone,Docsis,Station,Unknown] own
    P TTL ro integer 0..255 "0" [] own
  G LLDPStatistics
    P TxPacketCount ro integer 0..2147483647 "0" [] own
    P RxPacketCount ro integer 0..2147483647 "0" [] own
    P UnrecognizedTLVs ro integer 0..2147483647 "0" [] own
    P NumPacketsDropped ro integer 0..2147483647 "0" [] own
    P OrganizationalTLVCount ro integer 0..2147483647 "0" [] own
G DCBX
  G DCBXPortVars
    P OperatingVersion ro integer 0..3 "0" [] own
    P MaxVersion ro integer 0..3 "0" [] own
    P DCBXState rw list 7..8 "Enabled" [Enabled,Disabled] own
    P DCBXMode rw list 3..9 "Auto-IEEE" [CEE,CIN,Auto-CEE,Auto-IEEE] own
    P SequenceNumber ro integer 0..2147483647 "0" [] own
    P AckNumber ro integer 0..2147483647 "0" [] own
    P PeerSequenceNumber ro integer 0..2147483647 "0" [] own
    P PeerAckNumber ro integer 0..2147483647 "0" [] own
    P PFCFeatureSequenceNumber ro integer 0..2147483647 "0" [] own
    P PGFeatureSequenceNumber ro integer 0..2147483647 "0" [] own
    P AppFeatureSequenceNumber ro integer 0..2147483647 "0" [] own
  G DCBXStatistics
    P TxPacketCount ro integer 0..2147483647 "0" [] own
    P RxPacketCount ro integer 0..2147483647 "0" [] own
    P UnrecognizedTLVs ro integer 0..2147483647 "0" [] cache
    P NumPacketsDropped ro integer 0..2147483647 "0" [] own
    P OrganizationalTLVCount ro integer 0..2147483647 "0" [] cache
  G PFC
    G AdministratorPFCSetting
      P Advertise rw list 2..3 "Yes" [Yes,No] own
      P Enabled rw list 2..3 "No" [Yes,No] own
      P PriorityBitMap rw string 1..4 "0" [] own
      P Willing rw list 2..3 "Yes" [Yes,No] own
    G PeerPFCSetting
      P Advertise ro list 2..3 "Yes" [Yes,No] own
      P Enabled ro list 2..3 "Yes" [Yes,No] own
      P Error ro list 2..3 "Yes" [Yes,No] own
      P PriorityBitMap ro string 1..4 "0" [] own
      P Willing ro list 2..3 "Yes" [Yes,No] own
    G OperationalPFCSettings
      P Error ro list 2..3 "Yes" [Yes,No] own
      P OperationalMode ro list 4..5 "True" [True,False] own
      P PriorityBitMap ro string 1..4 "0" [] own
      P Synced ro list 2..3 "Yes" [Yes,No] own
  G PriorityGroups
    G AdministratorPGSetting
      P PG15PriorityMemberShip rw string 0..7 "0" [] own
      P Advertise rw list 2..3 "Yes" [Yes,No] own
      P Enabled rw list 2..3 "Yes" [Yes,No] own
      P Willing rw list 2..3 "Yes" [Yes,No] own
      P NumPGSupported ro integer 2..5 "2" [] own
    G PeerPGSetting
      P PG15PriorityMemberShip ro string 0..7 "0" [] own
      P Advertise ro list 2..3 "Yes" [Yes,No] own
      P Enabled ro list 2..3 "Yes" [Yes,No] own
      P Error ro list 2..3 "Yes" [Yes,No] own
      P Willing ro list 2..3 "Yes" [Yes,No] own
      P NumPGSupported ro integer 2..5 "2" [] own
    G OperationalPGSettings
      P PG15PriorityMemberShip ro string 0..7 "0" [] own
      P Error ro list 2..3 "Yes" [Yes,No] own
      P OperationalMode ro list 4..5 "True" [True,False] own
      P Synced ro list 2..3 "Yes" [Yes,No] own
      P NumPGSupported ro integer 2..5 "2" [] own
  G ApplicationTLVGroups
    G AdministratorTLVSetting
      P Advertise rw list 2..3 "Yes" [Yes,No] own
      P Enabled rw list 2..3 "Yes" [Yes,No] own
      P Willing rw list 2..3 "Yes" [Yes,No] own
      A AddApplicationTLV 4
        - ProtocolSelector req integer 0..1 []
        - ProtocolID req integer 0..99999 []
        - PriorityBitMap req string 1..4 []
        - OUI opt string 1..8 []
      A DeleteApplicationTLV 1
        - InstanceNumber req integer 0..14 []
    G PeerTLVSetting
      P Advertise ro list 2..3 "Yes" [Yes,No] own
      P Enabled ro list 2..3 "Yes" [Yes,No] own
      P Error ro list 2..3 "Yes" [Yes,No] own
      P Willing ro list 2..3 "Yes" [Yes,No] own
    G OperationalTLVSettings
      P Error ro list 2..3 "Yes" [Yes,No] own
      P OperationalMode ro list 4..5 "True" [True,False] own
      P Synced ro list 2..3 "Yes" [Yes,No] own
  G QCN
    G AdministratorQCNSetting
      P Advertise rw list 2..3 "Yes" [Yes,No] own
      P Enabled rw list 2..3 "No" [Yes,No] own
      P CNPVBitMap ro string 1..4 "0" [] own
      P Willing rw list 2..3 "Yes" [Yes,No] own
    G PeerQCNSetting
      P Advertise ro list 2..3 "Yes" [Yes,No] own
      P Enabled ro list 2..3 "Yes" [Yes,No] own
      P Error ro list 2..3 "Yes" [Yes,No] own
      P CNPVBitMap ro string 1..4 "0" [] own
      P Willing ro list 2..3 "Yes" [Yes,No] own
      P ReadyBitMap ro string 1..4 "0" [] own
    G OperationalQCNSettings
      P Error ro list 2..3 "Yes" [Yes,No] own
      P OperationalMode ro list 4..5 "N/A" [True,False] own
      P CNPVBitMap ro string 1..4 "0" [] own
      P Synced ro list 2..3 "Yes" [Yes,No] own
      P ReadyBitMap ro string 1..4 "0" [] own
)EXP";

static const char kExpectedChannel[] = R"EXP(P FunctionNumber ro integer 0..8 "0" [] cache
P Type ro string 3..5 "NIC" [] cache
P vNICName ro string 1..32 "1" [] own
P LogicalLinkState rw list 7..8 "Disabled" [Enabled,Disabled] own
P MACAddress ro string 17..17 "00:00:00:00:00:00" [] cache
P LPVID rw integer 0..4094 "2" [] own
P OuterVLANID ro integer 0..4094 "0" [] own
P MinBandWidth ro integer 0..100 "0" [] own
P MaxBandWidth ro integer 0..100 "0" [] own
A ConfigureQoS 2
  - MinBandwidth req integer 0..100 []
  - MaxBandwidth req integer 0..100 []
)EXP";

static const char kExpectedNCSIStaticConfiguration[] = R"EXP(P PortSwap ro list 2..3 "No" [Yes,No] own
P EnableWOLPort0 ro list 2..3 "No" [Yes,No] own
P Port0MAC ro string 17..17 "00:00:00:00:00:00" [] own
P EnableWOLPort1 ro list 2..3 "No" [Yes,No] own
P Port1MAC ro string 17..17 "00:00:00:00:00:00" [] own
P MgmtVLANId ro integer 0..4095 "0" [] own
)EXP";

static const char kExpectedNCSIDynamicConfiguration[] = R"EXP(P EnableWOLPort0 rw list 2..3 "No" [Yes,No] own
P Port0MAC rw string 17..17 "00:00:00:00:00:00" [] own
P EnableWOLPort1 rw list 2..3 "No" [Yes,No] own
P Port1MAC rw string 17..17 "00:00:00:00:00:00" [] own
P MgmtVLANId rw integer 0..4095 "0" [] own
)EXP";

static const char kExpectedLinkConfig[] = R"EXP(P LinkConfigID ro integer 0..32 "0" [] cache
P LinkConfigDescription ro string 1..32 "" [] cache
)EXP";

static const char kExpectedConfiguredProfilePort[] = R"EXP(P MCType rw list 3..7 "None" [UMC,vNIC1,vNIC2,UFP,NPAR,HPUMC,HPFlex,HPFlexQBG,None] own
)EXP";

static const char kExpectedConfiguredProfileFunction[] = R"EXP(P Protocol rw string 0..8 "NIC" [] own
P State ro list 0..8 "Disabled" [Enabled,Disabled] cache
P FunctionNumber ro integer 0..64 "0" [] cache
P MACAddress ro string 17..17 "00:00:00:00:00:00" [] own
P SRIOVState rw list 7..8 "Disabled" [Enabled,Disabled] own
P AvailableProtocols ro list 3..5 "NIC" [NIC,RoCE,FCoE,iSCSI,None] own
)EXP";

static const char kExpectedActiveProfilePort[] = R"EXP(P MCType ro list 3..7 "None" [UMC,vNIC1,vNIC2,UFP,NPAR,HPFlex,HPUMC,HPFlexQBG,None] cache
P MaxStoragePFCount ro integer 0..8 "0" [] cache
P MaxNICPFCount ro integer 1..64 "1" [] cache
P MaxRoCEPFCount ro integer 0..64 "0" [] cache
P MaxiSCSIPFCount ro integer 0..64 "0" [] cache
P MaxFCoEPFCount ro integer 0..64 "0" [] cache
)EXP";

static const char kExpectedActiveProfileFunction[] = R"EXP(P Protocol ro string 0..8 "NIC" [] cache
P FunctionNumber ro integer 0..64 "0" [] cache
P MACAddress ro string 17..17 "00:00:00:00:00:00" [] cache
P SRIOVState ro list 7..8 "Disabled" [Enabled,Disabled] own
)EXP";

static const char kExpectedProfile[] = R"EXP(P ProfileId ro integer 0..256 "0" [] cache
P ProfileDescription ro string 1..128 "" [] cache
)EXP";

static const char kExpectedProfileProtocol[] = R"EXP(P ProtocolName ro string 0..8 "NIC" [] cache
P FunctionCount ro integer 1..64 "" [] cache
)EXP";

static const char kExpectedApplicationTLV[] = R"EXP(P OUI ro string 1..8 "0x001b21" [] own
P PriorityBitMap ro string 1..4 "0" [] own
P ProtocolID ro integer 0..99999 "0" [] own
P ProtocolSelector ro integer 0..1 "0" [] own
)EXP";

static const char kExpectedAdministratorApplicationTLV[] = R"EXP(P OUI ro string 1..8 "0x001b21" [] own
P PriorityBitMap rw string 1..4 "0" [] own
P ProtocolID ro integer 0..99999 "0" [] own
P ProtocolSelector ro integer 0..1 "0" [] own
)EXP";

static const char kExpectedPG[] = R"EXP(P Bandwidth ro integer 0..100 "0" [] own
P PriorityMembership ro string 0..7 "0" [] own
)EXP";

static const char kExpectedAdministratorPG[] = R"EXP(P Bandwidth ro integer 0..255 "0" [] own
P PriorityMembership ro string 0..7 "0" [] own
A ConfigurePGSettings 2
  - PriorityMembership req string 0..7 []
  - Bandwidth req integer 0..255 []
)EXP";

