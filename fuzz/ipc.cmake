quellaron_fuzz(ubus_message ubus_message_fuzz.cpp qn_ipc)
quellaron_fuzz(uci_file uci_file_fuzz.cpp sim_platform)
