// Each edition's conversion of the sample card's records alone, through the shared conversion
// rules the edition uses: no driver call, no file.
#pragma once

namespace ridel_bench {

// The QDX edition's text lines: every field and every date part converted as it stands, the
// nation code named, the sex code worded.
void convert_qdx();
// The SDT edition's field store: every field converted and trimmed, the nation named, the sex
// worded, the appended address converted.
void convert_sdt();
// The vantrel edition's field store: every field converted into its slot, and the appended
// address into its own.
void convert_vantrel();

}  // namespace ridel_bench
