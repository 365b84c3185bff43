#include "mesh/root.h"

#include "mesh/mesh_names.h"

MeshRoot::MeshRoot(sdbus::IConnection& connection) : AdaptorInterfaces(connection, mesh_names::kRootPath) {
  registerAdaptor();
}

MeshRoot::~MeshRoot() { unregisterAdaptor(); }
