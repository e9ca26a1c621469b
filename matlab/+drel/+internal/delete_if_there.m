function delete_if_there(file)
%DELETE_IF_THERE  Deletes FILE, a temporary file of the toolbox's, if it exists.
if exist(file, 'file') == 2
    delete(file);
end
end
