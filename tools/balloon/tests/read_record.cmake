# Reads RECORD as the build reads a data folder's <kind>.source.txt and
# writes what it took to OUT: a line "<key>=<value as hex>" per key, in the
# record's order, then "NOTICE=<hex>". Hex, so that the test sees every byte.
include(${SOURCE_DIR}/cmake/ProvenanceText.cmake)
provenance_read_record(${RECORD} record)
set(out "")
foreach(key IN LISTS record_KEYS)
    string(REPLACE "-" "_" name "${key}")
    string(HEX "${record_${name}}" hex)
    string(APPEND out "${key}=${hex}\n")
endforeach()
string(HEX "${record_NOTICE}" hex)
string(APPEND out "NOTICE=${hex}\n")
file(WRITE ${OUT} "${out}")
