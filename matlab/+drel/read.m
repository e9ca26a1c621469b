function s = read(file)
%DREL.READ  A protocol file (.drel) as a struct.
%   S = DREL.READ(FILE) reads FILE with the drel program and returns the
%   protocol with the field names and nesting of drel show --json, exactly:
%   floats as doubles, counts and indices as uint64, a waveform's levels as
%   an int16 row vector, every array as an array whatever its length (the
%   coils and LC settings as struct arrays, the signals as a cell array of
%   structs with one field, their kind), so that
%
%       drel.compose(drel.read('a.drel'), 'b.drel')
%
%   writes the very bytes of a.drel. Errors: drel:read:cannotRead (no such
%   file, say), drel:read:notProtocol (bytes that are not a protocol file,
%   or a truncated or damaged one), drel:program:notFound.
%
%   See also DREL.COMPOSE, DREL.CHECK.
if isstring(file)
    file = char(file);
end
[status, text, err] = drel.internal.run({'show', '--json', file});
if status ~= 0
    drel.internal.refuse_reading(err);
end
s = drel.internal.decode(text);
end
