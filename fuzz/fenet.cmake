# Frames from PLCs.
quellaron_fuzz(fenet_response fenet_response.cpp qn_xgt_fenet)
