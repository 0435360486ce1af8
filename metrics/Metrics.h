// The counting calls of the site's metrics: one call per counted event, made where the event
// happens. Every call is safe from any thread. The calls on the snapshot path (alarms, events,
// queue depths) are an atomic add or store: no lock, no allocation, no log line. The rarer
// ones (a login, a stream's state, an error's text) may take a short lock of the metrics, and
// FaceDone the histogram's own short lock (on the face worker; on the alarm thread only when the
// face queue is full).
// The values are exposed by the metrics listener (MetricsListener.h) as Prometheus metrics
// and as the status page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace metrics {

// Why an alarm never became a snapshot.
enum class DropReason { kSdkQueue = 0, kThumbnail = 1, kPictureRefused = 2 };
constexpr int kDropReasonCount = 3;

// A monotonic clock in nanoseconds, for the time a snapshot spends with the face client.
int64_t SteadyNowNs();

// Devices. RegisterDevice runs at start-up, before the device's threads and the alarm callback
// start; a device that is not registered is not counted. ip and port name the login address.
void RegisterDevice(const std::string& ip, int port, const std::string& posId);
// A login attempt; errorCode is the device SDK's error code of a failed one.
void DeviceLogin(const std::string& ip, int port, bool succeeded, uint32_t errorCode = 0);
// A connection state as the device notifies it (a DeviceConnection).
void DeviceState(const std::string& ip, int port, int state);
// An alarm that the device delivered (its login address as the SDK reports it).
void DeviceAlarm(const char* ip, int port);

// Alarms at the intake.
void AlarmAccepted();
void AlarmDuplicate();
void AlarmUnknownDevice();
void AlarmDropped(DropReason reason);

// Event files.
void EventWritten();
// An event file that could not be written when it came; reason is kept as the last error.
void EventWriteFailed(const std::string& reason);
// The spool: accepted snapshots and unpublished event files on disk, and their bytes; its
// bounds (set once); alarms it refused at a bound or a disk failure; entries resumed or found
// corrupt at start; folder and file syncs it made.
void SpoolState(std::size_t entries, uint64_t bytes);
void SpoolLimits(std::size_t maxEntries, uint64_t maxBytes);
void SpoolRefused();
void SpoolResumed(std::size_t entries);
void SpoolCorrupt();
void SpoolSync();

// Face service. FaceDone counts a snapshot that the face client finished, by its group id,
// and the time since queuedAtNs (a SteadyNowNs value; 0: not timed).
void FaceDone(int32_t groupId, int64_t queuedAtNs);
void FaceQueueDepth(std::size_t snapshots);
void FacePending(std::size_t snapshots);
// A stream connection's state, by its path.
void FaceStreamConnected(const char* stream, bool connected);
// How a request to the face service ended: its HTTP status, or 0 and libcurl's error number
// (CURLcode) when nothing came back. Anything but 200 is kept as the last error.
void FaceServiceAnswer(int status, int clientError);

}  // namespace metrics
