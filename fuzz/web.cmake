# libFuzzer targets of web/: the request reader (request line, headers, target and
# path rules, response bytes), form-field decoding and Basic credentials.
pelorin_fuzz_target(web_request_reader web_request_reader.cpp pelorin_web)
pelorin_fuzz_target(web_form_fields web_form_fields.cpp pelorin_web)
pelorin_fuzz_target(web_basic_auth web_basic_auth.cpp pelorin_web)
