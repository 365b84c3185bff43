#pragma once

#include <sdbus-c++/sdbus-c++.h>



// The application root: the object manager through which the mesh daemon reads the tree.
class MeshRoot : public sdbus::AdaptorInterfaces<sdbus::ObjectManager_adaptor> {
 public:
  explicit MeshRoot(sdbus::IConnection& connection);
  ~MeshRoot();
  MeshRoot(const MeshRoot&) = delete;
  MeshRoot& operator=(const MeshRoot&) = delete;
};
