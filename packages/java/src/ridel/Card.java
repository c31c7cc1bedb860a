package ridel;

/** One card as an edition read it: text in Unicode, the photo as the bytes of a BMP file. */
public final class Card {
    /** The edition that read it. */
    public final Edition edition;
    /** The holder's name. */
    public final String name;
    /** The card's sex code: 1 male, 2 female, 0 and 9 unknown. */
    public final String sexCode;
    /** The sex as the edition names it. */
    public final String sex;
    /** The card's two-digit nation code. */
    public final String nationCode;
    /** The nation as the edition names it (SDT: with 族). */
    public final String nation;
    /** The birth date. */
    public final CardDate birth;
    /** The address. */
    public final String address;
    /** The ID number. */
    public final String idNumber;
    /** The issuing authority. */
    public final String authority;
    /** The first day of validity. */
    public final CardDate validFrom;
    /** The last day of validity, or the card's text (长期). */
    public final CardDate validTo;
    /** The appended address, or null when the card has none. */
    public final String appendedAddress;
    private final byte[] photo;
    /**
     * The reader's SAM as the edition gives it: QDX its number (the fourth group of the SAM ID),
     * SDT its identity's 16 bytes in hexadecimal, vantrel the SAM ID text.
     */
    public final String sam;

    Card(Edition edition, String[] text, CardDate[] dates, String appendedAddress, byte[] photo, String sam) {
        this.edition = edition;
        this.name = text[0];
        this.sexCode = text[1];
        this.sex = text[2];
        this.nationCode = text[3];
        this.nation = text[4];
        this.address = text[5];
        this.idNumber = text[6];
        this.authority = text[7];
        this.birth = dates[0];
        this.validFrom = dates[1];
        this.validTo = dates[2];
        this.appendedAddress = appendedAddress;
        this.photo = photo.clone();
        this.sam = sam;
    }

    /** @return the photo: a copy of the bytes of the bitmap the decoder wrote */
    public byte[] photo() {
        return photo.clone();
    }
}
