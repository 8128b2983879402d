// The camera's capture streams as the camera's own sequences see them. The stream objects (with
// their format tables and transfer modes) are made by CreateStreams once they exist; until then a
// stream that has its stream record accepts every format and needs no raw frame bytes.
#include "camera/camera.h"

void Camera::ReleaseStreams() {}

bool Camera::HasStream(ULONG streamNumber) {
  return streamNumber < 2 && streamNumber < streamCount;
}
bool Camera::IsVideoStreamOpen() { return false; }
void Camera::ReapplyVideoFormat() {}
NTSTATUS Camera::SaveVideoFormat() { return STATUS_SUCCESS; }

NTSTATUS Camera::OpenStreamFormat(ULONG, PVOID, PULONG rawFrameLength) {
  if (rawFrameLength != nullptr) *rawFrameLength = 0;
  return STATUS_SUCCESS;
}

NTSTATUS Camera::CloseStreamFormat(ULONG) { return STATUS_SUCCESS; }
