// Write-only upper-air layouts: the XML document (type 51) and the binary record (type 41).
#include "ua_internal.hpp"

int upa_xml_header(UpaState&, const UPA_info*) { return -1; }
int upa_xml_write(UpaState&, const UPA_report*) { return -1; }
int upa_bin_header(UpaState&, const UPA_info*) { return -1; }
int upa_bin_write(UpaState&, const UPA_report*) { return -1; }
