// Releasing COM interfaces held in record fields.
#pragma once

// Releases the interface when set and clears the field.
template <typename T>
void ReleaseInterface(T*& object) {
  if (object) {
    object->Release();
    object = nullptr;
  }
}
