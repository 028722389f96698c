// Placeholder translation unit until the first window lands.
