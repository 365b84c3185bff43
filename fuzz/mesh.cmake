# The mesh receive dispatch: every kind of access message from nodes.
quellaron_fuzz(mesh_receive_dispatch mesh_receive_dispatch.cpp qn_mesh)
