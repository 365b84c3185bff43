#include "mesh/root.h"

#include "mesh/mesh_names.h"

BluetoothMesh::Root::Root(sdbus::IConnection& connection) : AdaptorInterfaces(connection, mesh_names::kRootPath) {
  registerAdaptor();
}

BluetoothMesh::Root::~Root() { unregisterAdaptor(); }
