// Placeholder translation unit until the first fake back end lands.
