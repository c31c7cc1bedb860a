package ridel;

import com.sun.jna.Platform;

/** The three editions of the reader interface library. */
public enum Edition {
    /** The QDX edition of ridel: result files, content modes 1 to 6. */
    QDX,
    /** The SDT edition of ridel: zero-terminated getters. */
    SDT,
    /** The vantrel edition: getters whose text is not terminated. */
    VANTREL;

    /**
     * The name JNA loads the edition by: "ridel" (ridel.dll, libridel.so), and on Linux
     * "vantrel" (libvantrel.so) for the vantrel edition, which Windows deploys as ridel.dll.
     *
     * @return the library name without prefix and suffix
     */
    public String libraryName() {
        return this == VANTREL && !Platform.isWindows() ? "vantrel" : "ridel";
    }
}
