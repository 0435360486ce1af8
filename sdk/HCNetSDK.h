// The device SDK interface: the ten calls the system makes to reach cameras and NVRs, the
// alarm message callback type, command and error codes and the structures passed across.
// All calls may be made from any thread; the last error is kept per thread. Alarm messages
// arrive on one library thread, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Command codes ---------------------------------------------------------------------

#define COMM_UPLOAD_FACESNAP_RESULT 0x1112  // alarm message: a NET_VCA_FACESNAP_RESULT
#define NET_DVR_GET_IPPARACFG_V40 1062      // NET_DVR_GetDVRConfig: NET_DVR_IPPARACFG_V40
#define NET_DVR_CHECK_USER_STATUS 20005     // NET_DVR_RemoteControl: is the login still valid

// ---- Error codes (NET_DVR_GetLastError) --------------------------------------------------

#define NET_DVR_NOERROR 0
#define NET_DVR_PASSWORD_ERROR 1        // wrong user name or password
#define NET_DVR_OVER_MAXLINK 5          // the device has no free link
#define NET_DVR_VERSION_MISMATCH 6      // the device speaks another protocol version
#define NET_DVR_NETWORK_FAIL_CONNECT 7  // refused, unreachable, or no answer in time
// Codes of this library beyond the ones the system tells apart.
#define NET_DVR_NOT_INITIALIZED 100       // no NET_DVR_Init in force
#define NET_DVR_INVALID_USERID 101        // unknown or logged-out user id
#define NET_DVR_INVALID_ALARM_HANDLE 102  // unknown or closed alarm handle
#define NET_DVR_PARAMETER_ERROR 103       // null pointer, short buffer, unsupported option
#define NET_DVR_CONNECTION_LOST 104       // the device dropped the connection
#define NET_DVR_PROTOCOL_ERROR 105        // the device answered with a malformed frame
#define NET_DVR_TIMEOUT 106               // the device did not answer in time
#define NET_DVR_UNSUPPORTED_COMMAND 107   // command code the library does not know
#define NET_DVR_DEVICE_REFUSED 108        // the device refused the request

// ---- Structures ------------------------------------------------------------------------
// Fixed sizes and offsets are checked at the end of this file. Reserved bytes are zero.

#define NET_DVR_ADDRESS_LEN 129
#define NET_DVR_LOGIN_NAME_LEN 64
#define NET_DVR_LOGIN_PASSWORD_LEN 64
#define NET_DVR_MAX_ANALOG_CHANNELS 64
#define NET_DVR_MAX_IP_CHANNELS 64
#define NET_DVR_IPV4_LEN 16

// Login parameters. Texts need no terminator when they fill their field.
typedef struct {
  char sDeviceAddress[NET_DVR_ADDRESS_LEN];  // IPv4 address text
  uint8_t byRes1;
  uint16_t wPort;
  char sUserName[NET_DVR_LOGIN_NAME_LEN];
  char sPassword[NET_DVR_LOGIN_PASSWORD_LEN];
  uint8_t byRes2[8];
  int32_t bUseAsynLogin;  // must be 0: only blocking logins are supported
  uint8_t byRes3[128];
} NET_DVR_USER_LOGIN_INFO;

// Device description returned by a login.
typedef struct {
  uint8_t byRes1[52];
  uint8_t byChanNum;    // number of analog channels
  uint8_t byStartChan;  // number of the first analog channel
  uint8_t byRes2;
  uint8_t byIPChanNum;  // number of IP (digital) channels
  uint8_t byRes3[10];
  uint8_t byStartDChan;  // number of the first IP channel
  uint8_t byRes4[13];
} NET_DVR_DEVICEINFO_V30;

typedef struct {
  NET_DVR_DEVICEINFO_V30 struDeviceV30;
  uint8_t byRes[264];
} NET_DVR_DEVICEINFO_V40;

// One IP channel as the device reports it.
typedef struct {
  uint8_t byEnable;  // 1 when the channel is online and streaming
  uint8_t byRes[491];
} NET_DVR_IPCHANINFO;

typedef union {
  NET_DVR_IPCHANINFO struChanInfo;
  uint8_t byUnion[492];
} NET_DVR_GET_STREAM_UNION;

typedef struct {
  uint8_t byGetStreamType;  // 0: struChanInfo is valid
  uint8_t byRes[3];
  NET_DVR_GET_STREAM_UNION uGetStream;
} NET_DVR_STREAM_MODE;

// IP channel configuration (NET_DVR_GET_IPPARACFG_V40).
typedef struct {
  uint32_t dwSize;
  uint32_t dwRes1;
  uint32_t dwAnalogChanNum;
  uint32_t dwIPChanNum;
  uint32_t dwStartDChan;  // number of the first IP channel
  uint8_t byAnalogChanEnable[NET_DVR_MAX_ANALOG_CHANNELS];
  uint8_t byRes2[18944];
  NET_DVR_STREAM_MODE struStreamMode[NET_DVR_MAX_IP_CHANNELS];
  uint8_t byRes3[20];
} NET_DVR_IPPARACFG_V40;

// Alarm channel set-up parameters.
typedef struct {
  uint32_t dwSize;
  uint8_t byLevel;
  uint8_t byAlarmInfoType;
  uint8_t byRetAlarmTypeV40;
  uint8_t byRetDevInfoVersion;
  uint8_t byRetVQDAlarmType;
  uint8_t byFaceAlarmDetection;
  uint8_t bySupport;
  uint8_t byRes[137];
} NET_DVR_SETUPALARM_PARAM_V50;

// Who sent an alarm message.
typedef struct {
  int32_t lUserID;       // login the alarm arrived on
  int32_t lAlarmHandle;  // alarm channel it arrived on
  char sDeviceIP[NET_DVR_ADDRESS_LEN];
  uint8_t byRes1;
  uint16_t wLinkPort;
  uint8_t byRes2[4];
} NET_DVR_ALARMER;

typedef struct {
  char sIpV4[NET_DVR_IPV4_LEN];  // NUL-terminated dotted text
  uint8_t byRes[16];
} NET_DVR_IPADDR;

typedef struct {
  NET_DVR_IPADDR struDevIP;  // the camera that took the picture
  uint16_t wPort;
  uint8_t byChannel;
  uint8_t byRes;
} NET_VCA_DEV_INFO;

typedef struct {
  uint8_t byMask;  // 0 no mask, 1 mask, 255 unknown
  uint8_t byRes[15];
} NET_VCA_HUMAN_FEATURE;

// Temperature data attached to a face snapshot.
typedef struct {
  float fFaceTemperature;
  uint8_t byIsAbnomalTemperature;  // 1 when above the device's alarm threshold
  uint8_t byThermometryUnit;       // 0 Celsius, 1 Fahrenheit, 2 Kelvin
  uint8_t byRes[58];
} NET_VCA_FACESNAP_ADDINFO;

// Face snapshot alarm (COMM_UPLOAD_FACESNAP_RESULT). The pointers refer to library memory
// that stays valid only while the callback runs.
typedef struct {
  uint32_t dwSize;
  uint32_t dwAbsTime;  // camera local time: (year-2000)<<26 | month<<22 | day<<17 |
                       // hour<<12 | minute<<6 | second
  uint32_t dwFacePicID;
  uint32_t dwFacePicLen;  // bytes of JPEG at pBuffer1
  NET_VCA_DEV_INFO struDevInfo;
  NET_VCA_HUMAN_FEATURE struFeature;
  uint8_t byAddInfo;  // nonzero when pAddInfoBuffer holds a NET_VCA_FACESNAP_ADDINFO
  uint8_t byRes[11];
  uint8_t* pBuffer1;
  uint8_t* pAddInfoBuffer;
} NET_VCA_FACESNAP_RESULT;

// Alarm message callback: command code, sender, alarm buffer (a structure chosen by the
// command), its length, and the user pointer given at registration. Runs on the library's
// callback thread; it must not throw.
typedef void (*NET_DVR_MessageCallback)(int32_t lCommand, NET_DVR_ALARMER* pAlarmer,
                                        char* pAlarmInfo, uint32_t dwBufLen, void* pUser);

// ---- Functions -------------------------------------------------------------------------
// Results: nonzero (true) on success for the int-returning calls; -1 for none/failure for
// user ids and alarm handles. After a failure NET_DVR_GetLastError on the same thread says why.

extern "C" {

int NET_DVR_Init(void);
int NET_DVR_Cleanup(void);
int NET_DVR_SetDVRMessageCallBack_V50(int iIndex, NET_DVR_MessageCallback fMessageCallBack,
                                      void* pUser);
int32_t NET_DVR_Login_V40(NET_DVR_USER_LOGIN_INFO* pLoginInfo,
                          NET_DVR_DEVICEINFO_V40* lpDeviceInfo);
int NET_DVR_Logout_V30(int32_t lUserID);
uint32_t NET_DVR_GetLastError(void);
int NET_DVR_GetDVRConfig(int32_t lUserID, uint32_t dwCommand, int32_t lChannel, void* lpOutBuffer,
                         uint32_t dwOutBufferSize, uint32_t* lpBytesReturned);
int NET_DVR_RemoteControl(int32_t lUserID, uint32_t dwCommand, void* lpInBuffer,
                          uint32_t dwInBufferSize);
int32_t NET_DVR_SetupAlarmChan_V50(int32_t lUserID, NET_DVR_SETUPALARM_PARAM_V50* lpSetupParam,
                                   char* pSub, uint32_t dwSubSize);
int NET_DVR_CloseAlarmChan_V30(int32_t lAlarmHandle);

}  // extern "C"

// ---- Layout checks ---------------------------------------------------------------------

static_assert(sizeof(NET_DVR_USER_LOGIN_INFO) == 400, "login info size");
static_assert(offsetof(NET_DVR_USER_LOGIN_INFO, sDeviceAddress) == 0, "sDeviceAddress");
static_assert(offsetof(NET_DVR_USER_LOGIN_INFO, wPort) == 130, "wPort");
static_assert(offsetof(NET_DVR_USER_LOGIN_INFO, sUserName) == 132, "sUserName");
static_assert(offsetof(NET_DVR_USER_LOGIN_INFO, sPassword) == 196, "sPassword");
static_assert(offsetof(NET_DVR_USER_LOGIN_INFO, bUseAsynLogin) == 268, "bUseAsynLogin");
static_assert(sizeof(NET_DVR_USER_LOGIN_INFO::bUseAsynLogin) == 4, "bUseAsynLogin width");

static_assert(sizeof(NET_DVR_DEVICEINFO_V40) == 344, "device info size");
static_assert(offsetof(NET_DVR_DEVICEINFO_V40, struDeviceV30) == 0, "struDeviceV30");
static_assert(offsetof(NET_DVR_DEVICEINFO_V30, byChanNum) == 52, "byChanNum");
static_assert(offsetof(NET_DVR_DEVICEINFO_V30, byStartChan) == 53, "byStartChan");
static_assert(offsetof(NET_DVR_DEVICEINFO_V30, byIPChanNum) == 55, "byIPChanNum");
static_assert(offsetof(NET_DVR_DEVICEINFO_V30, byStartDChan) == 66, "byStartDChan");

static_assert(sizeof(NET_DVR_STREAM_MODE) == 496, "stream mode entry size");
static_assert(offsetof(NET_DVR_STREAM_MODE, uGetStream) == 4, "uGetStream");
static_assert(offsetof(NET_DVR_IPCHANINFO, byEnable) == 0, "byEnable");
static_assert(sizeof(NET_DVR_IPPARACFG_V40) == 50792, "IP parameter block size");
static_assert(offsetof(NET_DVR_IPPARACFG_V40, dwStartDChan) == 16, "dwStartDChan");
static_assert(sizeof(NET_DVR_IPPARACFG_V40::dwStartDChan) == 4, "dwStartDChan width");
static_assert(offsetof(NET_DVR_IPPARACFG_V40, byAnalogChanEnable) == 20, "byAnalogChanEnable");
static_assert(offsetof(NET_DVR_IPPARACFG_V40, struStreamMode) == 19028, "struStreamMode");

static_assert(sizeof(NET_DVR_SETUPALARM_PARAM_V50) == 148, "alarm set-up size");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, dwSize) == 0, "dwSize");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, byLevel) == 4, "byLevel");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, byAlarmInfoType) == 5, "byAlarmInfoType");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, byRetAlarmTypeV40) == 6, "byRetAlarmTypeV40");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, byRetDevInfoVersion) == 7,
              "byRetDevInfoVersion");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, byRetVQDAlarmType) == 8, "byRetVQDAlarmType");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, byFaceAlarmDetection) == 9,
              "byFaceAlarmDetection");
static_assert(offsetof(NET_DVR_SETUPALARM_PARAM_V50, bySupport) == 10, "bySupport");

static_assert(sizeof(NET_VCA_FACESNAP_RESULT::dwAbsTime) == 4, "dwAbsTime width");
static_assert(sizeof(NET_VCA_FACESNAP_RESULT::dwFacePicID) == 4, "dwFacePicID width");
static_assert(sizeof(NET_VCA_FACESNAP_ADDINFO::fFaceTemperature) == 4, "temperature width");
static_assert(offsetof(NET_VCA_FACESNAP_RESULT, pBuffer1) % alignof(uint8_t*) == 0,
              "pointers need no padding");
