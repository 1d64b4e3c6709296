/*
 * qeltble.h - access to wireless EEG amplifiers over Bluetooth Low Energy.
 *
 * libqeltble talks to the amplifiers through the BlueZ daemon on the system
 * D-Bus. It scans for amplifiers (they advertise their serial number as their
 * Bluetooth name), opens one by serial number, reads its device information
 * and channel configuration, streams its samples as frames of floats, watches
 * the connection and reconnects on its own, exchanges framed commands with
 * amplifiers of the NUS generation and manages their firmware images.
 *
 * Conventions that hold for every function below:
 *
 *  - Nothing needs to be initialised. Process-wide objects are created on
 *    first use. Every function may be called from any thread, also
 *    concurrently.
 *  - Functions returning int32_t return 0 on success or one of the
 *    QELTBLE_ERROR_* codes. On failure the calling thread's last-error text
 *    (QELTBLE_GetLastErrorText) holds a message; a success never clears it.
 *    Where a function documents a result "without error text", that result
 *    leaves the text unchanged.
 *  - No function lets an exception or a signal escape into the caller.
 *  - Buffers handed to callbacks belong to the library and are valid only
 *    during the call; copy what you keep.
 *  - Callbacks run on library threads (each registration says which). A
 *    callback may call other functions of this library, but it must not close
 *    or shut down the object whose thread is running it: QELTBLE_Shutdown
 *    from a scanner callback, or QELTBLE_CloseDevice of a device from one of
 *    that device's callbacks, would wait for the calling thread itself.
 *  - All multi-byte fields of the records are in host byte order
 *    (little-endian); the records have the sizes checked at the end of this
 *    file.
 */
#ifndef QELTBLE_H
#define QELTBLE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define QELTBLE_API __attribute__((visibility("default")))
#else
#define QELTBLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Handles, limits and codes                                                */
/* ------------------------------------------------------------------------ */

/* Identifies one open device. Handles are issued 1, 2, 3, ... and never
 * reused within a process; 0 names no device. */
typedef uint64_t QELTBLE_HANDLE;

/* Size of each text field of QELTBLE_DEVICE_INFORMATION, NUL included. */
#define QELTBLE_STRING_LENGTH_MAX 255
/* Size of one name slot passed to the device-discovered callback, NUL
 * included. */
#define QELTBLE_DEVICENAME_LENGTH_MAX 15
/* Number of entries of QELTBLE_DEVICE_INFORMATION.channelTypes. */
#define QELTBLE_NUMBER_OF_CHANNELS_MAX 64

/* Result codes. */
#define QELTBLE_SUCCESS 0
#define QELTBLE_ERROR_GENERAL (-1)            /* file, protocol rejection, time-out */
#define QELTBLE_ERROR_INVALID_HANDLE 1        /* handle not open, or null handle pointer */
#define QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE 2 /* system bus, adapter, subscriptions */
#define QELTBLE_ERROR_COMMUNICATION 3         /* connection, GATT, malformed data */
#define QELTBLE_ERROR_INVALID_ARGUMENT 4
#define QELTBLE_ERROR_PAYLOAD_LAYOUT (-2) /* a sample payload does not fit the layout */

/* Protocol generations for QELTBLE_SetDefaultGeneration. */
#define QELTBLE_GENERATION_DETECT 0 /* from the services the amplifier exposes */
#define QELTBLE_GENERATION_NUS 1    /* Nordic UART Service generation */
#define QELTBLE_GENERATION_LEGACY 2 /* data service with configuration characteristics */

/* Connection states passed to the connection-state callback. */
#define QELTBLE_STATE_CONNECTED 0    /* the amplifier is connected again */
#define QELTBLE_STATE_DISCONNECTED 1 /* the link to the amplifier was lost */

/* Log levels for QELTBLE_Log. */
#define QELTBLE_LOG_DEBUG 0
#define QELTBLE_LOG_INFO 1
#define QELTBLE_LOG_WARN 2
#define QELTBLE_LOG_ERROR 3

/* Channel type codes the library itself gives meaning to. */
#define QELTBLE_CHANNEL_TYPE_BATTERY 4  /* battery column appended to every frame */
#define QELTBLE_CHANNEL_TYPE_COUNTER 5  /* sample counter channel */
#define QELTBLE_CHANNEL_TYPE_VALIDITY 9 /* validity column appended to every frame */

/* Bits of QELTBLE_IMAGE_INFORMATION.flags. */
#define QELTBLE_IMAGE_FLAG_CONFIRMED 0x01
#define QELTBLE_IMAGE_FLAG_PENDING 0x02
#define QELTBLE_IMAGE_FLAG_ACTIVE 0x04

/* ------------------------------------------------------------------------ */
/* Records                                                                  */
/* ------------------------------------------------------------------------ */

/* Device information of an open amplifier (1344 bytes). Every text field
 * holds at most 254 characters and is NUL-terminated. */
typedef struct QELTBLE_DEVICE_INFORMATION {
    char modelNumber[QELTBLE_STRING_LENGTH_MAX];      /* GATT 0x2A24 */
    char serialNumber[QELTBLE_STRING_LENGTH_MAX];     /* GATT 0x2A25, the advertised name */
    char firmwareRevision[QELTBLE_STRING_LENGTH_MAX]; /* GATT 0x2A26 */
    char hardwareRevision[QELTBLE_STRING_LENGTH_MAX]; /* GATT 0x2A27 */
    char manufacturerName[QELTBLE_STRING_LENGTH_MAX]; /* GATT 0x2A29 */
    /* Type code of each delivered column: the amplifier's channels in
     * channelId order, then QELTBLE_CHANNEL_TYPE_BATTERY and
     * QELTBLE_CHANNEL_TYPE_VALIDITY; unused entries are 0. */
    uint8_t channelTypes[QELTBLE_NUMBER_OF_CHANNELS_MAX];
    uint16_t numberOfAcquiredChannels; /* values per delivered frame */
    uint16_t samplingRate;             /* samples per second per channel */
} QELTBLE_DEVICE_INFORMATION;

/* Amplifier configuration (16 bytes), as a legacy amplifier sends it. */
typedef struct QELTBLE_AMPLIFIER_CONFIGURATION {
    uint16_t samplingRate;       /* Hz */
    uint16_t channelCount;       /* equals channelConfigCount */
    float auxValue;              /* carried, not interpreted */
    uint16_t payloadSize;        /* exact length of every sample notification */
    uint16_t channelConfigCount; /* channel records, 1 to 62 */
    uint16_t payloadConfigCount; /* samples per notification, at least 1 */
    uint16_t filterConfigCount;  /* filter records, may be 0 */
} QELTBLE_AMPLIFIER_CONFIGURATION;

/* One channel (8 bytes). */
typedef struct QELTBLE_CHANNEL_CONFIGURATION {
    uint16_t channelId;    /* 1-based */
    uint8_t channelType;   /* type code; QELTBLE_CHANNEL_TYPE_COUNTER marks a counter */
    uint8_t channelNumber; /* carried */
    float scale;           /* factor applied to the raw samples (legacy generation) */
} QELTBLE_CHANNEL_CONFIGURATION;

/* One sample slot of a notification (4 bytes). */
typedef struct QELTBLE_PAYLOADCHANNEL_CONFIGURATION {
    uint16_t channelId;   /* channel whose sample occupies the slot */
    uint16_t sampleIndex; /* frame of the notification the sample belongs to */
} QELTBLE_PAYLOADCHANNEL_CONFIGURATION;

/* One filter (16 bytes); its data is carried, not interpreted. */
typedef struct QELTBLE_FILTERCHANNEL_CONFIGURATION {
    uint16_t channelId;
    uint8_t filterData[14];
} QELTBLE_FILTERCHANNEL_CONFIGURATION;

/* One firmware image slot (72 bytes). */
typedef struct QELTBLE_IMAGE_INFORMATION {
    uint8_t slot;        /* slot number reported by the amplifier */
    uint8_t flags;       /* QELTBLE_IMAGE_FLAG_* */
    char version[32];    /* at most 31 characters, NUL-terminated */
    uint8_t hash[32];    /* all zero unless the amplifier reported a 32-byte hash */
    uint8_t reserved[6]; /* always 0 */
} QELTBLE_IMAGE_INFORMATION;

/* ------------------------------------------------------------------------ */
/* Callbacks (a null pointer unregisters)                                   */
/* ------------------------------------------------------------------------ */

/* The whole list of discovered amplifiers, in order of discovery: `count`
 * slots of QELTBLE_DEVICENAME_LENGTH_MAX bytes, each a NUL-terminated name of
 * at most 14 characters. Runs on the scanner's callback thread. */
typedef void (*QELTBLE_DEVICE_DISCOVERED_CALLBACK)(
    const char (*deviceNames)[QELTBLE_DEVICENAME_LENGTH_MAX], uint32_t count);

/* The number of discovered amplifiers, called before the discovered
 * callback with the same list. Runs on the scanner's callback thread. */
typedef void (*QELTBLE_DEVICE_LIST_CHANGED_CALLBACK)(uint32_t count);

/* One sample frame of `valueCount` floats: the channels in channelId order,
 * the battery level in percent, then 1.0 for a received frame or 0.0 for a
 * frame synthesised to fill a gap. Runs on the device's bus thread. */
typedef void (*QELTBLE_DATA_AVAILABLE_CALLBACK)(QELTBLE_HANDLE handle, const float* values,
                                                uint32_t valueCount);

/* `frameCount` frames of `valuesPerFrame` floats each, laid end to end. Runs
 * on the device's bus thread. */
typedef void (*QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK)(QELTBLE_HANDLE handle, const float* values,
                                                        uint32_t frameCount,
                                                        uint32_t valuesPerFrame);

/* QELTBLE_STATE_DISCONNECTED when the link was lost (on the device's bus
 * thread), QELTBLE_STATE_CONNECTED when a reconnection succeeded (on the
 * device's reconnect thread). The first open reports nothing. */
typedef void (*QELTBLE_CONNECTION_STATE_CALLBACK)(QELTBLE_HANDLE handle, uint32_t state);

/* Progress of QELTBLE_UploadImage: bytes accepted so far out of `total`.
 * Runs on the thread that called QELTBLE_UploadImage, between two chunks. */
typedef void (*QELTBLE_UPLOAD_PROGRESS_CALLBACK)(QELTBLE_HANDLE handle, uint32_t offset,
                                                 uint32_t total, void* userData);

/* ------------------------------------------------------------------------ */
/* Library-wide functions (they cannot fail)                                */
/* ------------------------------------------------------------------------ */

/* The library's API version, "1.24.2.0". A static string. */
QELTBLE_API const char* QELTBLE_GetApiVersion(void);

/* The calling thread's last-error text: empty on a new thread, replaced by
 * the thread's next failure, at most 255 characters. The pointer stays valid
 * for the life of the thread. */
QELTBLE_API const char* QELTBLE_GetLastErrorText(void);

/* Selects the protocol generation assumed for devices opened afterwards
 * (QELTBLE_GENERATION_*; 0 at load). Devices already open keep theirs.
 * Returns 0, or QELTBLE_ERROR_INVALID_ARGUMENT without error text for a value
 * above 2, which leaves the setting unchanged. */
QELTBLE_API int32_t QELTBLE_SetDefaultGeneration(uint32_t generation);

/* The current default protocol generation. */
QELTBLE_API uint32_t QELTBLE_GetDefaultGeneration(void);

/* ------------------------------------------------------------------------ */
/* Log file                                                                 */
/* ------------------------------------------------------------------------ */

/* Sends the log to `path`, opened for appending; missing directories are
 * created. If a log file is open, it gets a note naming the new path and is
 * closed. Without this call the first logged line creates
 * $HOME/.local/share/qelt/qelt-ble/qeltble_<date>_<time>.log.
 * Returns -1 ("QELTBLE_SetLogFile: path is null/empty") for a null or empty
 * path, -1 ("QELTBLE_SetLogFile: could not open log file") when the file
 * cannot be opened; the log then stays closed until the next call. */
QELTBLE_API int32_t QELTBLE_SetLogFile(const char* path);

/* Copies the current log path into `buffer` (at most size-1 characters and a
 * NUL); empty before the first line is logged or after a failed open.
 * Returns -1 ("QELTBLE_GetLogFile: invalid buffer") for a null buffer or a
 * size of 0. */
QELTBLE_API int32_t QELTBLE_GetLogFile(char* buffer, uint32_t size);

/* Writes one line to the log: time stamp, level (QELTBLE_LOG_*), the source
 * location when `file` is neither null nor empty, and `message` (null counts
 * as empty). Never fails and never touches the error text. */
QELTBLE_API void QELTBLE_Log(int32_t level, const char* file, int32_t line, const char* function,
                             const char* message);

/* ------------------------------------------------------------------------ */
/* Scanning                                                                 */
/* ------------------------------------------------------------------------ */
/* The first scanning call connects to the system bus and chooses the first
 * Bluetooth adapter. Its failures are reported with code 2 and one of
 * "Could not connect to the system D-Bus (is bluetoothd running?).",
 * "Could not create the D-Bus event-loop wakeup descriptor.",
 * "Could not enumerate BlueZ objects: <detail>", "No Bluetooth adapter
 * available.", "Bluetooth adapter not enabled.", "Could not subscribe to
 * BlueZ device notifications." or "Could not subscribe to BlueZ device
 * property changes."; the next call tries again. Once the bus connection is
 * lost, calls fail with code 3, "D-Bus connection is not running." or
 * "D-Bus connection lost.". */

/* Starts discovery of Bluetooth LE devices unless it is already running.
 * Devices BlueZ already knows are reported at once; the discovered callbacks
 * receive the whole list after every successful start and after every new
 * amplifier. Returns 0, or 2 "Bluetooth adapter is not powered on.". After
 * QELTBLE_Shutdown it returns 0 and does nothing. Opening a device stops
 * discovery. */
QELTBLE_API int32_t QELTBLE_StartScanning(void);

/* Stops discovery if it is running. The list of discovered amplifiers is
 * kept. Returns 0 or a code as above. */
QELTBLE_API int32_t QELTBLE_StopScanning(void);

/* The number of amplifiers discovered in this process. On failure returns 0
 * and sets the error text. */
QELTBLE_API uint32_t QELTBLE_GetDiscoveredDeviceCount(void);

/* Copies the name of discovered amplifier `index` (0-based, in order of
 * discovery) into `buffer`: at most size-1 characters and a NUL. Returns 0,
 * or QELTBLE_ERROR_INVALID_ARGUMENT without error text for a null buffer, a
 * size of 0 or an index beyond the list (the buffer is then untouched). */
QELTBLE_API int32_t QELTBLE_GetDiscoveredDeviceName(uint32_t index, char* buffer, uint32_t size);

/* Registers the callback that receives the whole discovered list. Only names
 * shaped like an amplifier serial number (XX-XXXX.XX.XX) are listed. */
QELTBLE_API int32_t
QELTBLE_RegisterDeviceDiscoveredCallback(QELTBLE_DEVICE_DISCOVERED_CALLBACK callback);

/* Registers the callback that receives the number of discovered amplifiers. */
QELTBLE_API int32_t
QELTBLE_RegisterDeviceListChangedCallback(QELTBLE_DEVICE_LIST_CHANGED_CALLBACK callback);

/* ------------------------------------------------------------------------ */
/* Devices                                                                  */
/* ------------------------------------------------------------------------ */

/* Opens the amplifier that advertises `serialNumber`: searches for it for up
 * to 10 s, connects, discovers its services, chooses its protocol generation,
 * reads its device information and configuration. Up to three attempts are
 * made, so a missing amplifier fails after about 31 s. Opening a serial
 * number that is already open returns the existing handle at once.
 * On success writes the handle to `*handle`, which is untouched on failure.
 * Returns -1 "Handle must not be null." for a null `handle`, -1 "Device name
 * must not be null." for a null `serialNumber`, 3 "Could not find device with
 * the specified serial number.", 2 or 3 for bus and link failures, 3 for
 * missing characteristics or incomplete configuration. */
QELTBLE_API int32_t QELTBLE_OpenDevice(const char* serialNumber, QELTBLE_HANDLE* handle);

/* Closes the device `*handle` names and writes 0 to `*handle`, on success and
 * failure alike. Stops streaming, ends reconnection (a reconnection that is
 * searching ends within about 1.3 s) and disconnects. Returns 1 "Handle must
 * not be null" for a null pointer, 1 "Invalid device handle." for a handle
 * that is not open. Must not be called from a callback of the same device. */
QELTBLE_API int32_t QELTBLE_CloseDevice(QELTBLE_HANDLE* handle);

/* Copies the device's information record (1344 bytes) to `info`, which must
 * be valid. Returns 1 "Invalid device handle.". While the device reconnects,
 * the last values are returned. */
QELTBLE_API int32_t QELTBLE_GetDeviceInformation(QELTBLE_HANDLE handle,
                                                 QELTBLE_DEVICE_INFORMATION* info);

/* Query and fill in one call. `*channelCount` holds the capacity of
 * `channels` on entry and the device's number of channels on return. With a
 * null `channels` only the number is written. Returns 4 "channelCount must
 * not be null", 1 "Invalid device handle.", or 4 "channels buffer too small
 * for the reported channel count" (the needed count is already written). The
 * records are copied in channelId order. */
QELTBLE_API int32_t QELTBLE_GetChannelConfiguration(QELTBLE_HANDLE handle,
                                                    QELTBLE_CHANNEL_CONFIGURATION* channels,
                                                    uint32_t* channelCount);

/* Replaces, on the host side only, the sample layout of a NUS-generation
 * amplifier: channelCount channels, framesPerNotification frames per
 * notification, bytesPerSample (3 or 4) bytes per sample in the given byte
 * order, at samplingRate Hz. Nothing is sent to the amplifier; switch it
 * with QELTBLE_SendFrame. Call it while no samples are being converted.
 * Returns 0; -1 without error text when the layout is refused (a count of 0,
 * a width other than 3 or 4, or more frames per notification than the
 * device's frame ring holds); 1 "Invalid device handle.". */
QELTBLE_API int32_t QELTBLE_SetActiveLayout(QELTBLE_HANDLE handle, uint8_t channelCount,
                                            uint16_t framesPerNotification, uint8_t bytesPerSample,
                                            bool littleEndian, uint16_t samplingRate);

/* Registers the per-frame data callback. A non-null callback starts the
 * sample stream and replaces a batched callback; null stops the stream.
 * Returns 1 "Invalid device handle." or the subscription's failure (code 3);
 * the callback then stays registered. The callback runs on the device's bus
 * thread with the device's state lock held: it must not register callbacks,
 * close the device or make calls that talk to the same device. */
QELTBLE_API int32_t QELTBLE_RegisterDataAvailableCallback(QELTBLE_HANDLE handle,
                                                          QELTBLE_DATA_AVAILABLE_CALLBACK callback);

/* Frames per batched callback, 1 to 64 (4 when the device is opened); takes
 * effect with the next frame. Returns 4 "Frames per callback must be between
 * 1 and 64." or 1 "Invalid device handle.". */
QELTBLE_API int32_t QELTBLE_SetFramesPerCallback(QELTBLE_HANDLE handle, uint32_t frames);

/* Registers the batched data callback; as QELTBLE_RegisterDataAvailableCallback
 * but frames are collected and delivered QELTBLE_SetFramesPerCallback at a
 * time. A batch that is not full when the stream stops is not delivered. */
QELTBLE_API int32_t QELTBLE_RegisterDataAvailableBatchedCallback(
    QELTBLE_HANDLE handle, QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback);

/* Registers the connection-state callback (QELTBLE_STATE_*). After a lost
 * link the library reopens the amplifier on its own, with pauses growing from
 * 500 ms to 5 s, and resumes streaming. Returns 1 "Invalid device handle.". */
QELTBLE_API int32_t QELTBLE_RegisterConnectionStateCallback(
    QELTBLE_HANDLE handle, QELTBLE_CONNECTION_STATE_CALLBACK callback);

/* One request/response exchange on the command channel of a NUS-generation
 * amplifier. Frames `command` and `payloadLength` bytes of `payload` (null
 * sends zeros), waits up to `timeoutMs` for the response, stores its status
 * byte in `*status` (if not null) and copies at most `*responseLength` bytes
 * of its payload to `response`, writing the number copied to
 * `*responseLength`. With a null `response` and a non-null `responseLength`
 * the full response length is written instead. A non-zero status is not a
 * failure. Blocks for up to about 600 ms before the request is written while
 * stale traffic dies down. Returns 4 "SendFrame: payload too large" (over 512
 * bytes), 3 "SendFrame: malformed response frame" (also on time-out), 3 for
 * link failures, 1 "Invalid device handle.". */
QELTBLE_API int32_t QELTBLE_SendFrame(QELTBLE_HANDLE handle, uint8_t command,
                                      const uint8_t* payload, uint16_t payloadLength,
                                      uint8_t* status, uint8_t* response, uint16_t* responseLength,
                                      uint32_t timeoutMs);

/* Closes every open handle, then shuts scanning down for the rest of the
 * process: scanning cannot start again and opening a device fails after its
 * search. Must not be called from a library callback. Returns 0. */
QELTBLE_API int32_t QELTBLE_Shutdown(void);

/* ------------------------------------------------------------------------ */
/* Firmware images (over the SMP service)                                   */
/* ------------------------------------------------------------------------ */
/* Each function checks the handle first (1 "Invalid device handle."), then
 * its arguments (code 4), then runs its exchanges with a fixed time-out;
 * a time-out returns -1 "SMP command timed out waiting for response", a link
 * failure 3 (a device without the SMP characteristic: "Could not find
 * characteristic 'DA2E7828-FBCE-4E01-AE9E-261174997C48'."). Run firmware
 * commands on one device one after the other. */

/* Echoes `message` (at most 255 bytes) and copies the answer into `response`
 * (at most *responseSize-1 bytes and a NUL), writing the copied length to
 * `*responseSize`. Returns 4 "Message must not be null.", 4 "Response buffer
 * and size must not be null.", 4 "Response buffer size must be non-zero.",
 * 4 "Message too long for echo.", -1 "Invalid echo response format.", -1
 * "Echo response missing 'r' field.". */
QELTBLE_API int32_t QELTBLE_Echo(QELTBLE_HANDLE handle, const char* message, char* response,
                                 uint32_t* responseSize);

/* Asks the amplifier to reset; returns 0 once it acknowledged. */
QELTBLE_API int32_t QELTBLE_ResetDevice(QELTBLE_HANDLE handle);

/* Lists the image slots: at most *imageCount records (the capacity on
 * entry), the number filled on return. Returns 4 "Images array and count must
 * not be null.", -1 "Invalid image state response.", -1 "Invalid CBOR:
 * expected map.". */
QELTBLE_API int32_t QELTBLE_ListImages(QELTBLE_HANDLE handle, QELTBLE_IMAGE_INFORMATION* images,
                                       uint32_t* imageCount);

/* Erases the secondary image slot. Returns -1 "Erase image failed." when the
 * amplifier refuses. */
QELTBLE_API int32_t QELTBLE_EraseImage(QELTBLE_HANDLE handle);

/* Uploads `size` bytes of `data` as a new image, in chunks; `progress` (may be
 * null) is called after each accepted chunk with `userData`. `reserved` is
 * not read. Returns 4 "Image data and size must be valid.", or -1 "Upload
 * failed at offset <offset>/<size>: SMP rc=<rc> ..." when the amplifier
 * refuses a chunk. */
QELTBLE_API int32_t QELTBLE_UploadImage(QELTBLE_HANDLE handle, const uint8_t* data, uint32_t size,
                                        void* reserved, QELTBLE_UPLOAD_PROGRESS_CALLBACK progress,
                                        void* userData);

/* Marks the image with the 32-byte `hash` for a test boot. Returns 4 "Image
 * hash must not be null.", -1 "Test image failed.". */
QELTBLE_API int32_t QELTBLE_TestImage(QELTBLE_HANDLE handle, const uint8_t* hash);

/* Confirms the running image. Returns -1 "Confirm image failed.". */
QELTBLE_API int32_t QELTBLE_ConfirmImage(QELTBLE_HANDLE handle);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ------------------------------------------------------------------------ */
/* Layout checks                                                            */
/* ------------------------------------------------------------------------ */
#ifdef __cplusplus
#define QELTBLE_STATIC_ASSERT static_assert
#else
#define QELTBLE_STATIC_ASSERT _Static_assert
#endif

QELTBLE_STATIC_ASSERT(sizeof(QELTBLE_DEVICE_INFORMATION) == 1344, "device information size");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, serialNumber) == 255, "serialNumber");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, firmwareRevision) == 510,
                      "firmwareRevision");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, hardwareRevision) == 765,
                      "hardwareRevision");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, manufacturerName) == 1020,
                      "manufacturerName");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, channelTypes) == 1275, "channelTypes");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, numberOfAcquiredChannels) == 1340,
                      "numberOfAcquiredChannels");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_DEVICE_INFORMATION, samplingRate) == 1342, "samplingRate");
QELTBLE_STATIC_ASSERT(sizeof(QELTBLE_IMAGE_INFORMATION) == 72, "image information size");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_IMAGE_INFORMATION, version) == 2, "version");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_IMAGE_INFORMATION, hash) == 34, "hash");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_IMAGE_INFORMATION, reserved) == 66, "reserved");
QELTBLE_STATIC_ASSERT(sizeof(QELTBLE_AMPLIFIER_CONFIGURATION) == 16,
                      "amplifier configuration size");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_AMPLIFIER_CONFIGURATION, auxValue) == 4, "auxValue");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_AMPLIFIER_CONFIGURATION, payloadSize) == 8, "payloadSize");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_AMPLIFIER_CONFIGURATION, filterConfigCount) == 14,
                      "filterConfigCount");
QELTBLE_STATIC_ASSERT(sizeof(QELTBLE_CHANNEL_CONFIGURATION) == 8, "channel configuration size");
QELTBLE_STATIC_ASSERT(offsetof(QELTBLE_CHANNEL_CONFIGURATION, scale) == 4, "scale");
QELTBLE_STATIC_ASSERT(sizeof(QELTBLE_PAYLOADCHANNEL_CONFIGURATION) == 4, "payload channel size");
QELTBLE_STATIC_ASSERT(sizeof(QELTBLE_FILTERCHANNEL_CONFIGURATION) == 16, "filter channel size");

#undef QELTBLE_STATIC_ASSERT

#endif /* QELTBLE_H */
