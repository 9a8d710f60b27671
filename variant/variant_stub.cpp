// Placeholder until the variant layer lands.
