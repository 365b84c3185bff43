quellaron_fuzz(ubus_message ubus_message_fuzz.cpp qn_ipc)
