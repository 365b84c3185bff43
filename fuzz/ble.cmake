# Requests a phone writes over BLE.
quellaron_fuzz(ble_request ble_request.cpp qn_ble)
