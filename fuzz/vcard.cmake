# vCard converter: whole uploads through the single-pass reader, and the
# quoted-printable decoder alone.
pelorin_fuzz_target(vcard_upload_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/vcard_upload_fuzz.cpp pelorin_vcard)
pelorin_fuzz_target(vcard_qp_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/vcard_qp_fuzz.cpp pelorin_vcard)
# read(write(record)) == record for every card any text gives.
pelorin_fuzz_target(vcard_round_trip_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/vcard_round_trip_fuzz.cpp pelorin_vcard)
