// Keeps corvanta non-empty until the kit's first sources arrive.
