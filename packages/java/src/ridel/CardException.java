package ridel;

/** A failed step of a read: the step, the call, its result and what that means. */
public final class CardException extends Exception {
    private static final long serialVersionUID = 1L;
    /** The step: open, authenticate, select, read, appended address, sam. */
    public final String step;
    /** The export that failed. */
    public final String call;
    /** Its result. */
    public final int code;
    /** What the result means for that export. */
    public final String meaning;

    CardException(Edition edition, String step, String call, String args, int code) {
        super(step + ": " + call + "(" + args + ") returned " + code + ": "
                + CardReader.meaning(edition, call, code));
        this.step = step;
        this.call = call;
        this.code = code;
        this.meaning = CardReader.meaning(edition, call, code);
    }
}
