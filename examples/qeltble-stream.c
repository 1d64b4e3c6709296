/*
 * qeltble-stream: finds an amplifier, opens it, prints its device
 * information and streams its samples, with one live line per second.
 *
 *   qeltble-stream [--serial SERIAL] [--seconds N] [--scan-seconds N]
 *
 * Without --serial it opens the first amplifier the scan finds. It uses only
 * the public header, like any application: run it on a machine with BlueZ
 * and a real amplifier, or against the simulator on a private bus
 * (scripts/demo does that).
 */
#include <qeltble.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Written by the library's threads, read by the main loop. */
static atomic_uint_fast64_t g_frames;
static atomic_uint_fast64_t g_synthesised;
static atomic_uint g_battery;
static atomic_uint g_state = QELTBLE_STATE_CONNECTED;
static atomic_uint g_disconnects;
static atomic_uint g_reconnects;
static atomic_uint g_discovered;
static char g_first_name[QELTBLE_DEVICENAME_LENGTH_MAX];
static atomic_int g_have_name;
static volatile sig_atomic_t g_stop;

static void on_signal(int signal_number) {
    (void)signal_number;
    g_stop = 1;
}

static void sleep_ms(long ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && !g_stop) {
    }
}

/* Scanner thread: the whole list of amplifiers seen so far. */
static void on_devices(const char (*names)[QELTBLE_DEVICENAME_LENGTH_MAX], uint32_t count) {
    atomic_store(&g_discovered, count);
    if (count > 0 && !atomic_load(&g_have_name)) {
        memcpy(g_first_name, names[0], sizeof g_first_name);
        atomic_store(&g_have_name, 1);
    }
}

/* Device thread: one frame of channels, battery, validity. */
static void on_frame(QELTBLE_HANDLE handle, const float* values, uint32_t count) {
    (void)handle;
    atomic_fetch_add(&g_frames, 1);
    if (values[count - 1] == 0.0f) {
        atomic_fetch_add(&g_synthesised, 1);
    }
    atomic_store(&g_battery, (unsigned)values[count - 2]);
}

static void on_state(QELTBLE_HANDLE handle, uint32_t state) {
    (void)handle;
    atomic_store(&g_state, state);
    atomic_fetch_add(state == QELTBLE_STATE_DISCONNECTED ? &g_disconnects : &g_reconnects, 1);
    printf("  connection: %s\n", state == QELTBLE_STATE_DISCONNECTED ? "lost, reconnecting"
                                                                     : "restored, streaming again");
    fflush(stdout);
}

static int fail(const char* what) {
    fprintf(stderr, "qeltble-stream: %s failed: %s\n", what, QELTBLE_GetLastErrorText());
    return 1;
}

static void print_information(const QELTBLE_DEVICE_INFORMATION* info) {
    printf("Device information\n");
    printf("  model         %s\n", info->modelNumber);
    printf("  serial number %s\n", info->serialNumber);
    printf("  firmware      %s\n", info->firmwareRevision);
    printf("  hardware      %s\n", info->hardwareRevision);
    printf("  manufacturer  %s\n", info->manufacturerName);
    printf("  sampling rate %u Hz\n", info->samplingRate);
    printf("  frame         %u values, types", info->numberOfAcquiredChannels);
    for (unsigned i = 0; i < info->numberOfAcquiredChannels && i < QELTBLE_NUMBER_OF_CHANNELS_MAX;
         ++i) {
        printf(" %u", info->channelTypes[i]);
    }
    printf("\n");
}

static int scan(const char* wanted, int seconds, char* serial, size_t size) {
    QELTBLE_RegisterDeviceDiscoveredCallback(on_devices);
    if (QELTBLE_StartScanning() != QELTBLE_SUCCESS) {
        return fail("scanning");
    }
    printf("Scanning for %s ...\n", wanted != NULL ? wanted : "amplifiers");
    int found = 0;
    for (int waited = 0; waited < seconds * 10 && !found && !g_stop; ++waited) {
        sleep_ms(100);
        if (wanted == NULL) {
            found = atomic_load(&g_have_name);
            continue;
        }
        char name[QELTBLE_DEVICENAME_LENGTH_MAX];
        for (uint32_t i = 0; QELTBLE_GetDiscoveredDeviceName(i, name, sizeof name) == 0; ++i) {
            found = found || strcmp(name, wanted) == 0;
        }
    }
    QELTBLE_StopScanning();
    QELTBLE_RegisterDeviceDiscoveredCallback(NULL);
    printf("  %u amplifier(s) found\n", QELTBLE_GetDiscoveredDeviceCount());
    if (wanted != NULL) {
        /* A remembered amplifier can be opened even when the scan missed it. */
        snprintf(serial, size, "%s", wanted);
        return 0;
    }
    if (!found) {
        fprintf(stderr, "qeltble-stream: no amplifier found\n");
        return 1;
    }
    snprintf(serial, size, "%s", g_first_name);
    return 0;
}

static void stream(QELTBLE_HANDLE handle, int seconds) {
    uint64_t last_frames = 0;
    uint64_t last_synthesised = 0;
    for (int second = 1; second <= seconds && !g_stop; ++second) {
        sleep_ms(1000);
        const uint64_t frames = atomic_load(&g_frames);
        const uint64_t synthesised = atomic_load(&g_synthesised);
        const unsigned state = atomic_load(&g_state);
        printf("  %3ds  %6llu frames/s  %4llu synthesised  battery %3u%%  %s\n", second,
               (unsigned long long)(frames - last_frames),
               (unsigned long long)(synthesised - last_synthesised), atomic_load(&g_battery),
               state == QELTBLE_STATE_CONNECTED ? "connected" : "disconnected");
        fflush(stdout);
        last_frames = frames;
        last_synthesised = synthesised;
    }
    (void)handle;
}

int main(int argc, char** argv) {
    const char* wanted = NULL;
    int seconds = 10;
    int scan_seconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--serial") == 0 && i + 1 < argc) {
            wanted = argv[++i];
        } else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--scan-seconds") == 0 && i + 1 < argc) {
            scan_seconds = atoi(argv[++i]);
        } else {
            fprintf(stderr, "usage: %s [--serial SERIAL] [--seconds N] [--scan-seconds N]\n",
                    argv[0]);
            return 2;
        }
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    setvbuf(stdout, NULL, _IOLBF, 0);

    printf("qeltble %s\n", QELTBLE_GetApiVersion());
    char serial[64];
    if (scan(wanted, scan_seconds, serial, sizeof serial) != 0) {
        QELTBLE_Shutdown();
        return 1;
    }

    printf("Opening %s ...\n", serial);
    QELTBLE_HANDLE handle = 0;
    if (QELTBLE_OpenDevice(serial, &handle) != QELTBLE_SUCCESS) {
        const int status = fail("opening");
        QELTBLE_Shutdown();
        return status;
    }
    QELTBLE_DEVICE_INFORMATION info;
    QELTBLE_GetDeviceInformation(handle, &info);
    print_information(&info);

    QELTBLE_RegisterConnectionStateCallback(handle, on_state);
    if (QELTBLE_RegisterDataAvailableCallback(handle, on_frame) != QELTBLE_SUCCESS) {
        const int status = fail("starting the stream");
        QELTBLE_CloseDevice(&handle);
        QELTBLE_Shutdown();
        return status;
    }
    printf("Streaming for %d s\n", seconds);
    stream(handle, seconds);

    QELTBLE_RegisterDataAvailableCallback(handle, NULL);
    QELTBLE_CloseDevice(&handle);
    QELTBLE_Shutdown();
    printf("Done: %llu frames, %llu synthesised, %u disconnection(s), %u reconnection(s)\n",
           (unsigned long long)atomic_load(&g_frames),
           (unsigned long long)atomic_load(&g_synthesised), atomic_load(&g_disconnects),
           atomic_load(&g_reconnects));
    return 0;
}
