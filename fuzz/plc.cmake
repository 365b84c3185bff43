# The cloud's PLC list: its address texts, and the whole list applied to PLCs and pollers.
quellaron_fuzz(plc_address_text plc_address_text.cpp qn_plc)
quellaron_fuzz(plc_list plc_list.cpp qn_plc)
