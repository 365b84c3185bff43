# The firmware configuration document from the firmware host, and the header and blocks of
# a downloaded device image.
quellaron_fuzz(firmware_config firmware_config_fuzz.cpp qn_ota)
quellaron_fuzz(firmware_image firmware_image_fuzz.cpp qn_ota)
