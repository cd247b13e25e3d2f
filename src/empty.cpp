// Placeholder so that an empty subsystem still forms an object library.
