#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include "mesh/bluetooth_mesh.h"

// The application root: the object manager through which the mesh daemon reads the tree.
class BluetoothMesh::Root : public sdbus::AdaptorInterfaces<sdbus::ObjectManager_adaptor> {
 public:
  explicit Root(sdbus::IConnection& connection);
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;
};
