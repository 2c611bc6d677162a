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
