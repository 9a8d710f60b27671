// Placeholder until the dialog lands.
